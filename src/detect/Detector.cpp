#include "detect/Detector.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "detect/Cascades.h"

namespace scarlex {

namespace {

// Red blobs are gathered on a map of at most about this many pixels on its
// long side; pupils are then fitted at full resolution.
constexpr int kMapSide = 1600;
// Redness levels (PupilRedness) at which the map is cut into blobs: from
// three quarters again as red as green to more than five times. Fits that
// peak below kMinPeak are not pupils.
constexpr int kLadder[] = {52, 64, 80, 100, 125, 160};
constexpr int kMinPeak = 52;
// A blob is fitted only when the band around it is less red than this
// share of the blob.
constexpr double kMaxAroundShare = 0.85;
// Candidates whose own evidence reaches this are looked at for context.
constexpr double kContextFloor = 0.2;
constexpr int kMaxEyeChecks = 16;
// Seeds of at least this many map pixels' radius are fitted on the map.
constexpr double kMapFitRadius = 4;
// A blob this many times a seed's radius holds it as its own region, not
// as a piece of itself.
constexpr double kPieceRatio = 4;
// Map fits that score this much get their geometry fitted at full resolution.
constexpr double kRefineFloor = 0.2;

// 0 at `from`, 1 at `to`, straight in between; `from` may lie above `to`.
double Ramp(double v, double from, double to) {
    const double t = (v - from) / (to - from);
    return std::clamp(t, 0.0, 1.0);
}

// The photograph at 1/f of its size and its redness, in one pass: each map
// pixel is the mean of the 2 x 2 photograph pixels at the middle of its
// block. Not the mean of the whole block: the map only finds blobs worth a
// closer look, and reading every pixel of a large photograph would cost as
// much as the rest of the search.
void Reduce(const Bitmap& src, int f, Bitmap& out, cv::Mat& redness) {
    const int w = src.Width() / f, h = src.Height() / f;
    if (out.Width() != w || out.Height() != h) out.SetSize(w, h);
    redness.create(h, w, CV_8UC1);
    const int at = (f - 1) / 2;
    const uint8_t* table = PupilRednessTable();
    for (int y = 0; y < h; ++y) {
        const uint8_t* r0 = src.Row(y * f + at);
        const uint8_t* r1 = src.Row(std::min(y * f + at + 1, src.Height() - 1));
        uint8_t* dst = out.Row(y);
        uint8_t* v = redness.ptr<uint8_t>(y);
        for (int x = 0; x < w; ++x, dst += 3) {
            const std::size_t i = 3 * static_cast<std::size_t>(x * f + at);
            const std::size_t j = std::min(i + 3, 3 * static_cast<std::size_t>(src.Width() - 1));
            for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>((r0[i + c] + r0[j + c] + r1[i + c] + r1[j + c] + 2) / 4);
            v[x] = PupilRedness(dst, table);
        }
    }
}

// A fit made on the reduced map, in photograph pixels.
void ScaleUp(PupilFit& fit, int f) {
    const double shift = (f - 1) / 2.0;
    fit.x = fit.x * f + shift;
    fit.y = fit.y * f + shift;
    fit.radius *= f;
    fit.extent *= f;
    fit.circle *= f;
    fit.area *= f * f;
    fit.holeArea *= f * f;
    fit.seedX = fit.seedX * f + f / 2;
    fit.seedY = fit.seedY * f + f / 2;
}

struct Seed {
    double x, y, r;
};

struct Ring {
    double red = 0;   // share as red as the pupil
    double pale = 0;  // share of its eight sectors mostly nearly neutral and brighter than the pupil's red
};

// The ring just outside a fitted pupil, where its iris is. A pupil stands
// alone, a piece of a red area does not. And an eye's white shows on two
// sides of the iris at most, the lids and skin above and below it, where a
// red letter or a red gap in white print has pale paper or strokes all
// around it.
Ring MeasureRing(const Bitmap& b, const PupilFit& fit) {
    const double e = std::max(fit.extent, 1.0);
    const double inner = e + 1.0, outer = 1.8 * e + 2.5;
    const int reach = static_cast<int>(std::ceil(outer));
    const int step = std::max(1, static_cast<int>(e / 6));
    long count = 0, red = 0;
    long sectorCount[8] = {}, sectorPale[8] = {};
    const double paleLuma = std::max(1.3 * fit.redLuma + 20, 120.0);
    const int cx = static_cast<int>(std::lround(fit.x)), cy = static_cast<int>(std::lround(fit.y));
    for (int y = std::max(0, cy - reach); y <= std::min(b.Height() - 1, cy + reach); y += step)
        for (int x = std::max(0, cx - reach); x <= std::min(b.Width() - 1, cx + reach); x += step) {
            const double d = std::hypot(x - fit.x, y - fit.y);
            if (d <= inner || d > outer) continue;
            ++count;
            const uint8_t* p = b.Pixel(x, y);
            if (PupilRedness(p) >= fit.level) ++red;
            const int hi = std::max({p[0], p[1], p[2]}), lo = std::min({p[0], p[1], p[2]});
            const int sector = static_cast<int>(std::floor((std::atan2(y - fit.y, x - fit.x) + M_PI) / (M_PI / 4))) & 7;
            ++sectorCount[sector];
            if (0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2] >= paleLuma && hi - lo < 0.2 * hi) ++sectorPale[sector];
        }
    if (count == 0) return {};
    int pale = 0;
    for (int k = 0; k < 8; ++k) pale += sectorCount[k] > 0 && 2 * sectorPale[k] > sectorCount[k];
    return {static_cast<double>(red) / count, pale / 8.0};
}

// How round a pupil is once a catch-light that cuts into its edge is
// counted in: a catch-light at the rim leaves a crescent of red that the
// fit sees as neither round nor filled. The red pixels' convex hull closes
// it again; the part of the hull that is not red must be brighter than
// the red (a catch-light, not a dark gap between two red things), and the
// red must fill a fair share of the hull. 0 .. 1, 0 when it does not apply.
double HullRoundness(const Bitmap& b, const PupilFit& fit, std::vector<cv::Point>& points, std::vector<cv::Point>& hull) {
    const double e = std::max(fit.extent, 1.0);
    const int reach = static_cast<int>(std::ceil(e + 0.5));
    const int cx = static_cast<int>(std::lround(fit.x)), cy = static_cast<int>(std::lround(fit.y));
    points.clear();
    for (int y = std::max(0, cy - reach); y <= std::min(b.Height() - 1, cy + reach); ++y)
        for (int x = std::max(0, cx - reach); x <= std::min(b.Width() - 1, cx + reach); ++x)
            if (std::hypot(x - fit.x, y - fit.y) <= e + 0.5 && PupilRedness(b.Pixel(x, y)) >= fit.level)
                points.emplace_back(x, y);
    if (points.size() < 6) return 0;
    cv::convexHull(points, hull);
    const double hullArea = cv::contourArea(hull) + 0.5 * cv::arcLength(hull, true) + 1;  // pixel areas, not centres
    const double solidity = points.size() / hullArea;
    if (solidity < 0.45) return 0;
    // The gap: hull pixels that are not red, brighter than the red on average.
    double gapLuma = 0, redLuma = 0;
    int gap = 0, red = 0;
    const cv::Rect box = cv::boundingRect(hull);
    for (int y = box.y; y < box.y + box.height; ++y)
        for (int x = box.x; x < box.x + box.width; ++x) {
            if (cv::pointPolygonTest(hull, cv::Point2f(static_cast<float>(x), static_cast<float>(y)), false) < 0) continue;
            const uint8_t* p = b.Pixel(x, y);
            const double luma = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
            if (PupilRedness(p) >= fit.level) {
                redLuma += luma;
                ++red;
            } else {
                gapLuma += luma;
                ++gap;
            }
        }
    if (gap == 0 || red == 0 || gapLuma / gap < 1.15 * redLuma / red) return 0;
    const cv::Moments m = cv::moments(hull);
    if (m.m00 <= 0) return 0;
    const double mxx = m.mu20 / m.m00, myy = m.mu02 / m.m00, mxy = m.mu11 / m.m00;
    const double root = std::sqrt((mxx - myy) * (mxx - myy) + 4 * mxy * mxy);
    const double elongation = std::sqrt((mxx + myy + root) / std::max(1e-6, mxx + myy - root));
    return Ramp(elongation, 1.9, 1.4) * Ramp(solidity, 0.45, 0.6);
}

// Sum of the redness map over `r` from its integral image.
long long Sum(const cv::Mat& integral, const cv::Rect& r) {
    return static_cast<long long>(integral.at<int>(r.y + r.height, r.x + r.width)) - integral.at<int>(r.y, r.x + r.width) -
           integral.at<int>(r.y + r.height, r.x) + integral.at<int>(r.y, r.x);
}

// Whether a blob's box is clearly redder than a band around it: a speck on
// skin that is as red as the skin is not worth a fit.
bool StandsOut(const cv::Mat& integral, const cv::Rect& box) {
    const int pad = std::max(2, std::max(box.width, box.height) / 2);
    const cv::Rect all(0, 0, integral.cols - 1, integral.rows - 1);
    const cv::Rect outer = cv::Rect(box.x - pad, box.y - pad, box.width + 2 * pad, box.height + 2 * pad) & all;
    const long long inner = Sum(integral, box), around = Sum(integral, outer) - inner;
    const long long innerArea = box.area(), aroundArea = static_cast<long long>(outer.area()) - innerArea;
    if (aroundArea <= 0 || inner <= 0) return inner > 0;
    return static_cast<double>(around) / aroundArea < kMaxAroundShare * static_cast<double>(inner) / innerArea;
}

// Blobs of the redness map: the components at the lowest level of the
// ladder, and within each component those at the levels above it, so that
// the map is cut whole only once.
}  // namespace

// Buffers kept from one photograph to the next: the whole-map ones are
// large, and a fresh allocation costs page faults on every call.
struct RedPupilDetector::Scratch {
    Bitmap reduced;
    cv::Mat redness, integral;
    cv::Mat mask, labels, stats, centroids;        // the whole map
    cv::Mat subMask, subLabels, subStats, subCentroids, inside;  // within a blob
};

namespace {

std::vector<Seed> GatherSeeds(const cv::Mat& redness, const cv::Mat& integral, int f, int maxRadius,
                              RedPupilDetector::Scratch& scratch) {
    struct Task {
        std::size_t level;
        cv::Rect roi;
        cv::Mat inside;  // the parent component's pixels within roi; empty: all
    };
    std::vector<Seed> seeds;
    std::vector<Task> tasks = {{0, cv::Rect(0, 0, redness.cols, redness.rows), cv::Mat()}};
    const int minArea = f > 1 ? 2 : 3;
    constexpr std::size_t kLevels = sizeof kLadder / sizeof kLadder[0];
    while (!tasks.empty()) {
        const Task task = std::move(tasks.back());
        tasks.pop_back();
        const bool whole = task.inside.empty();
        cv::Mat& mask = whole ? scratch.mask : scratch.subMask;
        cv::Mat& labels = whole ? scratch.labels : scratch.subLabels;
        cv::Mat& stats = whole ? scratch.stats : scratch.subStats;
        cv::Mat& centroids = whole ? scratch.centroids : scratch.subCentroids;
        cv::compare(redness(task.roi), kLadder[task.level], mask, cv::CMP_GE);
        if (!whole) cv::bitwise_and(mask, task.inside, mask);
        const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
        for (int i = 1; i < n; ++i) {
            const int area = stats.at<int>(i, cv::CC_STAT_AREA);
            if (area < minArea) continue;
            const cv::Rect local(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                                 stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
            const cv::Rect box = local + task.roi.tl();
            const double r = std::sqrt(area / M_PI) * f;
            const bool shaped = r <= maxRadius && std::max(box.width, box.height) <= 3 * std::min(box.width, box.height) &&
                                area >= 0.3 * box.area();
            if (shaped && StandsOut(integral, box))
                seeds.push_back({(centroids.at<double>(i, 0) + task.roi.x) * f + (f - 1) / 2.0,
                                 (centroids.at<double>(i, 1) + task.roi.y) * f + (f - 1) / 2.0, std::max(r, 1.0)});
            if (task.level + 1 < kLevels && area >= 8) {
                cv::Mat inside;
                cv::compare(labels(local), i, inside, cv::CMP_EQ);
                tasks.push_back({task.level + 1, box, inside});
            }
        }
    }
    return seeds;
}

struct Own {
    double colour = 0;  // red, redder than around it, alone, no print or dark middle
    double shape = 0;   // round and large enough
    double Value() const { return colour * shape; }
};

Own OwnEvidence(const PupilFit& f, const Ring& ring, double hullRound, bool lenient = false) {
    const double ringRed = ring.red;
    const double contrast = f.peak > 0 ? static_cast<double>(f.peak - f.surround) / f.peak : 0.0;
    // A pupil a few pixels across is smeared by the photograph's colour
    // sampling and its compression: its red is paler, it stands out less
    // and its few pixels make a ragged shape. Where the context vouches for
    // an eye, the bars are lowered for it, all the way at two pixels' radius;
    // and a strongly compressed photograph pales every red, so the bars for
    // its colour come halfway down at any size.
    const double small = lenient ? Ramp(f.radius, 4.0, 2.0) : 0.0;
    const double pale = lenient ? std::max(small, 0.5) : 0.0;
    const double red = Ramp(f.peak, 36 - 6 * pale, 70 - 14 * pale);
    const double stands = Ramp(contrast, 0.15 - 0.05 * pale, 0.4 - 0.12 * pale);
    const double round = std::max(Ramp(f.fill, 0.25 - 0.05 * small, 0.45 - 0.07 * small) *
                                      Ramp(f.elongation, 2.6 + 0.6 * small, 1.7 + 0.5 * small),
                                  hullRound);
    const double size = Ramp(f.radius, 1.0, 2.0);
    const double alone = Ramp(ringRed, 0.35, 0.12);
    // What a red pupil holds is a catch-light, brighter than its red; a
    // dark middle is a pupil that is not red inside a reddish iris.
    const bool darkMiddle = f.holeArea * 10 >= f.area && f.darkHoleArea * 2 > f.holeArea;
    // An iris leaves little room for paper-white right around the pupil.
    const double coloured = Ramp(ring.pale, 0.9, 0.6);
    return {red * stands * alone * coloured * (darkMiddle ? 0.2 : 1.0), round * size};
}

}  // namespace

RedPupilDetector::RedPupilDetector(const DetectorOptions& options)
    : options_(options), scratch_(std::make_unique<Scratch>()) {
    if (options_.useCascades) cascades_ = std::make_unique<Cascades>(options_.cascadeFolder);
}

RedPupilDetector::~RedPupilDetector() = default;

bool RedPupilDetector::HaveCascades() const { return cascades_ && (cascades_->HaveFaces() || cascades_->HaveEyes()); }

std::vector<SuggestedPupil> RedPupilDetector::Detect(const Bitmap& bitmap) const {
    return Detect(bitmap, options_.orientation);
}

std::vector<SuggestedPupil> RedPupilDetector::Detect(const Bitmap& bitmap, int orientation) const {
    std::vector<SuggestedPupil> out;
    for (const PupilCandidate& c : Candidates(bitmap, orientation))
        if (c.score >= options_.minScore) out.push_back({c.fit.x, c.fit.y, c.fit.radius, c.score});
    return out;
}

std::vector<PupilCandidate> RedPupilDetector::Candidates(const Bitmap& bitmap, int orientationTag) const {
    std::vector<PupilCandidate> out;
    const int W = bitmap.Width(), H = bitmap.Height();
    if (W < 8 || H < 8) return out;
    const Orientation orientation(orientationTag, W, H);
    const int f = std::max(1, std::max(W, H) / kMapSide);
    if (W / f < 8 || H / f < 8) return out;  // a sliver: no room for an eye
    Scratch& scratch = *scratch_;
    cv::Mat& redness = scratch.redness;
    if (f > 1) {
        Reduce(bitmap, f, scratch.reduced, redness);
    } else {
        redness.create(H, W, CV_8UC1);
        const uint8_t* table = PupilRednessTable();
        for (int y = 0; y < H; ++y) {
            const uint8_t* p = bitmap.Row(y);
            uint8_t* v = redness.ptr<uint8_t>(y);
            for (int x = 0; x < W; ++x, p += 3) v[x] = PupilRedness(p, table);
        }
    }
    const Bitmap& map = f > 1 ? scratch.reduced : bitmap;
    // A pupil wider than a tenth of the picture would have an eye wider
    // than the picture around it.
    const int maxRadius = std::clamp(std::min(W, H) / 10, 8, 300);

    // Blobs of the redness map at every level of the ladder.
    cv::integral(redness, scratch.integral, CV_32S);
    std::vector<Seed> seeds = GatherSeeds(redness, scratch.integral, f, maxRadius, scratch);

    // Nested blobs of one pupil give nearly the same seed at several levels.
    std::sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.r > b.r; });
    std::vector<Seed> kept;
    {
        constexpr double kCell = 24;
        std::unordered_map<long long, std::vector<int>> grid;
        auto key = [](long long i, long long j) { return i * 1000003LL + j; };
        for (const Seed& s : seeds) {
            const long long ci = static_cast<long long>(s.x / kCell), cj = static_cast<long long>(s.y / kCell);
            bool duplicate = false;
            for (long long dj = -1; dj <= 1 && !duplicate; ++dj)
                for (long long di = -1; di <= 1 && !duplicate; ++di) {
                    auto it = grid.find(key(ci + di, cj + dj));
                    if (it == grid.end()) continue;
                    for (int k : it->second) {
                        const Seed& o = kept[static_cast<std::size_t>(k)];
                        if (std::hypot(o.x - s.x, o.y - s.y) <= std::max(1.5 * f, 0.5 * s.r) && o.r < 1.6 * s.r) {
                            duplicate = true;
                            break;
                        }
                    }
                }
            if (duplicate) continue;
            grid[key(ci, cj)].push_back(static_cast<int>(kept.size()));
            kept.push_back(s);
        }
    }

    // Each seed fitted at full resolution and judged on its own.
    PupilFitter fitter;
    std::vector<PupilCandidate> fitted;
    std::vector<cv::Point> points, hull;
    for (const Seed& s : kept) {
        // Largest seeds first: a smaller one inside a pupil already fitted is
        // a piece of it, unless it is far smaller: a pupil inside a large
        // red area (a flushed face, red hair, a red backdrop) is its own.
        const bool inside = std::any_of(fitted.begin(), fitted.end(), [&](const PupilCandidate& c) {
            return c.own >= kContextFloor && c.fit.radius >= s.r && c.fit.radius < kPieceRatio * s.r &&
                   std::hypot(c.fit.x - s.x, c.fit.y - s.y) < c.fit.extent;
        });
        if (inside) continue;
        // Blobs many map pixels across are judged on the map, where they
        // cost a fraction; the few that look like pupils are fitted again at
        // full resolution below.
        const bool onMap = f > 1 && s.r >= kMapFitRadius * f;
        const int k = onMap ? f : 1;
        PupilFitOptions o;
        o.radiusHint = s.r / k;
        o.searchRadius = std::max(2.0 * f / k, 0.75 * s.r / k);
        o.maxRadius = std::max(8, maxRadius / k);
        PupilCandidate c;
        const double shift = (k - 1) / 2.0;
        c.fit = fitter.Fit(onMap ? map : bitmap, (s.x - shift) / k, (s.y - shift) / k, o);
        if (!c.fit.found || c.fit.peak < kMinPeak) continue;
        const Ring ring = MeasureRing(onMap ? map : bitmap, c.fit);
        c.ringRed = ring.red;
        c.ringPale = ring.pale;
        if (onMap) ScaleUp(c.fit, f);
        c.onMap = onMap;
        Own own = OwnEvidence(c.fit, ring, 0.0);
        double hullRound = 0;
        if (own.Value() < 0.9 && own.Value() >= 0.02) {
            const PupilFit& at = c.fit;
            PupilFit here = at;
            if (onMap) {  // measured where it was fitted
                here.x = (at.x - (f - 1) / 2.0) / f;
                here.y = (at.y - (f - 1) / 2.0) / f;
                here.extent = at.extent / f;
            }
            hullRound = HullRoundness(onMap ? map : bitmap, here, points, hull);
            const Own hulled = OwnEvidence(c.fit, ring, hullRound);
            if (hulled.Value() > own.Value()) own = hulled;
        }
        c.own = own.Value();
        const Own lenient = OwnEvidence(c.fit, ring, hullRound, true);
        // How much of the lenient view is shape, softened further below.
        c.lenientOwn = lenient.Value();
        c.shape = lenient.shape;
        fitted.push_back(c);
    }
    // One candidate per pupil: the best of those whose centres coincide.
    std::sort(fitted.begin(), fitted.end(),
              [](const PupilCandidate& a, const PupilCandidate& b) { return a.own > b.own; });
    for (const PupilCandidate& c : fitted) {
        bool duplicate = false;
        for (const PupilCandidate& o : out)
            if (std::hypot(o.fit.x - c.fit.x, o.fit.y - c.fit.y) <= 0.6 * std::max(o.fit.radius, c.fit.radius) + 1.0 &&
                std::max(o.fit.radius, c.fit.radius) < kPieceRatio * std::min(o.fit.radius, c.fit.radius)) {
                duplicate = true;
                break;
            }
        if (!duplicate) out.push_back(c);
    }

    // Context: an eye and a face around it, a partner eye.
    if (cascades_) {
        cascades_->SetPhotograph(bitmap, map, f, orientation);
        const std::vector<UprightBox> faces = cascades_->Faces();
        int eyeChecks = 0;
        for (PupilCandidate& c : out) {  // best own evidence first
            if (std::max(c.own, c.lenientOwn) < kContextFloor) continue;
            double ux = 0, uy = 0;
            orientation.ToUpright(c.fit.x, c.fit.y, ux, uy);
            for (const UprightBox& box : faces) {
                const double rel = (uy - box.y) / box.height;
                const double size = box.width / std::max(c.fit.radius, 0.5);
                if (box.Contains(ux, uy) && rel > 0.15 && rel < 0.65 && size > 10 && size < 120) c.face = true;
            }
            if (eyeChecks < kMaxEyeChecks) {
                ++eyeChecks;
                c.eye = cascades_->EyeAround(c.fit.x, c.fit.y, c.fit.radius);
            }
        }
    }
    // Two red discs alike are a pair of eyes only when the eye cascade sees
    // an eye around one of them at least (when there is an eye cascade).
    const bool eyesKnown = cascades_ && cascades_->HaveEyes();
    // Whether the eye cascade sees an eye lying on its side around a
    // candidate: asked only of candidates one above the other, once each.
    std::vector<int> sidewaysEye(out.size(), -1);
    int sidewaysChecks = 0;
    auto SidewaysEye = [&](std::size_t k) {
        if (sidewaysEye[k] < 0) {
            sidewaysEye[k] = 0;
            if (eyesKnown && sidewaysChecks < kMaxEyeChecks) {
                ++sidewaysChecks;
                sidewaysEye[k] = cascades_->EyeAround(out[k].fit.x, out[k].fit.y, out[k].fit.radius, true);
            }
        }
        return sidewaysEye[k] == 1;
    };
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i].own < kContextFloor) continue;
        for (std::size_t j = i + 1; j < out.size(); ++j) {
            if (out[j].own < kContextFloor) continue;
            const PupilFit &a = out[i].fit, &b = out[j].fit;
            const double ratio = std::max(a.radius, b.radius) / std::min(a.radius, b.radius);
            const double mean = (a.radius + b.radius) / 2;
            double ux = 0, uy = 0;
            orientation.DirectionToUpright(b.x - a.x, b.y - a.y, ux, uy);
            const double distance = std::hypot(ux, uy) / mean;
            double angle = std::atan2(std::fabs(uy), std::fabs(ux)) * 180.0 / M_PI;
            // A photograph that says it is stored upright may have lost its
            // tag or come from a camera that never wrote one: a pair one
            // above the other is a face lying on its side, when the eye
            // cascade sees an eye lying on its side around both.
            const bool sideways = orientation.Tag() == 1 && angle > 50 && SidewaysEye(i) && SidewaysEye(j);
            if (sideways) angle = 90 - angle;
            if (ratio > 1.6 || distance < 5 || distance > 45 || angle > 40) continue;
            // The same flash lights both: their redness is alike.
            const double alike = Ramp(std::abs(a.peak - b.peak) / static_cast<double>(std::max(a.peak, b.peak)), 0.5, 0.25);
            const double strength = std::min(out[i].own, out[j].own) * Ramp(angle, 40, 25) * Ramp(ratio, 1.6, 1.25) * alike *
                                    (out[i].eye || out[j].eye || !eyesKnown ? 1.0 : 0.25);
            out[i].pair = std::max(out[i].pair, strength);
            out[j].pair = std::max(out[j].pair, strength);
        }
    }
    // Red and round is not enough: without an eye the cascade sees, a
    // partner or a face, a candidate stays below the default cut.
    for (PupilCandidate& c : out) {
        // The larger the pupil, the surer the eye cascade is to see its eye;
        // when it does not, the rest counts for less.
        const double unseen = c.eye || !cascades_ || !cascades_->HaveEyes() ? 1.0 : 1.0 - 0.85 * Ramp(c.fit.radius, 6, 20);
        const double context =
            1.0 - (1.0 - (c.eye ? 0.75 : 0.0)) * (1.0 - 0.75 * unseen * c.pair) * (1.0 - (c.face ? 0.5 * unseen : 0.0));
        // An eye the cascade sees inside a face it finds, where a face has
        // its eyes: a pupil half hidden by a lid or cut by a catch-light
        // need not look as round as one that stands alone.
        // Only the likeliest pupil of its eye: a red speck on a lid beside a
        // pupil sits in the same eye and face.
        const bool mainOfEye = std::none_of(out.begin(), out.end(), [&](const PupilCandidate& o) {
            return &o != &c && o.own > c.own &&
                   std::hypot(o.fit.x - c.fit.x, o.fit.y - c.fit.y) < 3 * std::max(o.fit.radius, c.fit.radius) + 2;
        });
        const double own = c.face && c.eye && mainOfEye && c.shape > 0 ? std::max(c.own, c.lenientOwn / std::sqrt(c.shape))
                                                                       : c.own;
        c.score = own * (0.35 + 0.65 * context);
    }
    for (PupilCandidate& c : out) {
        if (!c.onMap || c.score < kRefineFloor) continue;
        PupilFitOptions o;
        o.radiusHint = c.fit.radius;
        o.maxRadius = maxRadius;
        const PupilFit fine = fitter.Fit(bitmap, c.fit.x, c.fit.y, o);
        if (fine.found) {
            c.fit.x = fine.x;
            c.fit.y = fine.y;
            c.fit.radius = fine.radius;
            c.fit.extent = fine.extent;
            c.fit.circle = fine.circle;
            c.fit.area = fine.area;
            c.fit.holeArea = fine.holeArea;
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const PupilCandidate& a, const PupilCandidate& b) { return a.score > b.score; });
    return out;
}

std::vector<SuggestedPupil> DetectRedPupils(const Bitmap& bitmap, const DetectorOptions& options) {
    RedPupilDetector detector(options);
    return detector.Detect(bitmap);
}

}  // namespace scarlex
