// How well the suggested pupils hold up when a photograph changes: the
// real red-eye photographs (when the shared test folder is there) scaled,
// re-saved, cropped, turned, brightened, blurred and noised, and drawn
// scenes with the red things that are not eyes. The known pupils are mapped
// through each change; prints found, missed and false per family and in all.
//
//   detect_eval [-v] [-c CASE]   (-v: every miss and false suggestion;
//                                 -c: every candidate's evidence in the cases named so;
//                                 -s DIR: enlargements of the misses and false ones)

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/JpegCodec.h"
#include "common/BenchSupport.h"
#include "detect/Detector.h"
#include "support/FaceScene.h"

using namespace scarlex;

namespace {

struct Pupil {
    double x, y, r;
};

struct Case {
    std::string family, name;
    Bitmap bitmap;
    int orientation = 1;
    std::vector<Pupil> pupils;
};

struct Tally {
    int pupils = 0, found = 0, falseOnes = 0, photos = 0;
    double seconds = 0;
};

cv::Mat Wrap(Bitmap& b) { return cv::Mat(b.Height(), b.Width(), CV_8UC3, b.Data(), b.Stride()); }

Bitmap FromMat(const cv::Mat& m) {
    Bitmap b(m.cols, m.rows);
    cv::Mat dst = Wrap(b);
    m.copyTo(dst);
    return b;
}

std::string g_temp;
std::string g_shots;  // where enlargements of misses and false ones go; empty: none

// The neighbourhood of (x, y), enlarged to about 240 pixels, as a PPM.
void Shot(const Bitmap& b, double x, double y, double r, const std::string& name) {
    if (g_shots.empty()) return;
    const int half = static_cast<int>(std::max(12.0, 8 * r));
    cv::Mat m(b.Height(), b.Width(), CV_8UC3, const_cast<uint8_t*>(b.Data()), b.Stride());
    const cv::Rect want(static_cast<int>(x) - half, static_cast<int>(y) - half, 2 * half + 1, 2 * half + 1);
    const cv::Rect have = want & cv::Rect(0, 0, m.cols, m.rows);
    if (have.empty()) return;
    cv::Mat big;
    cv::resize(m(have), big, cv::Size(), 240.0 / want.width, 240.0 / want.width, cv::INTER_NEAREST);
    std::string file = name;
    for (char& ch : file)
        if (ch == ' ' || ch == '/' || ch == '%') ch = '_';
    std::FILE* f = std::fopen((g_shots + "/" + file + ".ppm").c_str(), "wb");
    if (!f) return;
    std::fprintf(f, "P6\n%d %d\n255\n", big.cols, big.rows);
    for (int yy = 0; yy < big.rows; ++yy)
        for (int xx = 0; xx < big.cols; ++xx) {
            const cv::Vec3b v = big.at<cv::Vec3b>(yy, xx);
            const uint8_t rgb[3] = {v[2], v[1], v[0]};
            std::fwrite(rgb, 1, 3, f);
        }
    std::fclose(f);
}

Bitmap Resave(const Bitmap& b, int quality) {
    const std::string path = g_temp + "/resave.jpg";
    bench::WritePlainJpeg(path, b, quality);
    Bitmap out;
    Sampling s;
    DecodeJpegToBitmap(path, out, s);
    return out;
}

// Which pupils a photograph holds, from the shared folder's README.
struct Real {
    const char* file;
    std::vector<Pupil> pupils;
};
const Real kReal[] = {
    {"redeye_canon_sd100.jpg", {{640, 425, 6}, {747, 386, 5}, {591, 653, 7}, {677, 623, 6}}},
    {"redeye_redhair_portrait.jpg", {{249, 90, 5}, {376, 94, 5}}},
    {"redeye_child_closeup.jpg", {{535, 646, 49}, {1439, 645, 51}}},
};

void AddPerturbations(const std::string& name, Bitmap& photo, const std::vector<Pupil>& pupils, std::vector<Case>& out) {
    auto add = [&](const std::string& family, const std::string& what, Bitmap b, std::vector<Pupil> p, int tag = 1) {
        out.push_back({family, name + " " + what, std::move(b), tag, std::move(p)});
    };
    cv::Mat src = Wrap(photo);
    add("original", "", FromMat(src), pupils);
    for (const auto& [num, den] : {std::pair{3, 4}, {1, 2}, {1, 3}}) {
        const double s = static_cast<double>(num) / den;
        cv::Mat small;
        cv::resize(src, small, cv::Size(static_cast<int>(src.cols * s), static_cast<int>(src.rows * s)), 0, 0,
                   cv::INTER_AREA);
        std::vector<Pupil> p;
        for (const Pupil& q : pupils) p.push_back({(q.x + 0.5) * s - 0.5, (q.y + 0.5) * s - 0.5, q.r * s});
        // A camera or an editor that scales saves again.
        add("scale", std::to_string(num) + "/" + std::to_string(den), Resave(FromMat(small), 90), p);
    }
    for (int q : {95, 75, 60}) add("quality", "q" + std::to_string(q), Resave(photo, q), pupils);
    // Crops: the middle two thirds, and the lower right three quarters,
    // both keeping the pupils inside.
    double x0 = 1e9, y0 = 1e9, x1 = 0, y1 = 0;
    for (const Pupil& q : pupils) {
        x0 = std::min(x0, q.x - 3 * q.r);
        y0 = std::min(y0, q.y - 3 * q.r);
        x1 = std::max(x1, q.x + 3 * q.r);
        y1 = std::max(y1, q.y + 3 * q.r);
    }
    const cv::Rect crops[] = {
        cv::Rect(src.cols / 6, src.rows / 6, src.cols * 2 / 3, src.rows * 2 / 3),
        cv::Rect(static_cast<int>(std::max(0.0, x0 - 40)), static_cast<int>(std::max(0.0, y0 - 40)),
                 src.cols - static_cast<int>(std::max(0.0, x0 - 40)), src.rows - static_cast<int>(std::max(0.0, y0 - 40))),
        cv::Rect(0, 0, static_cast<int>(std::min<double>(src.cols, x1 + 60)), static_cast<int>(std::min<double>(src.rows, y1 + 60))),
    };
    int k = 0;
    for (cv::Rect c : crops) {
        c &= cv::Rect(0, 0, src.cols, src.rows);
        std::vector<Pupil> p;
        for (const Pupil& q : pupils)
            if (c.contains(cv::Point(static_cast<int>(q.x), static_cast<int>(q.y))) && q.x - q.r - c.x >= 0 &&
                q.y - q.r - c.y >= 0 && q.x + q.r < c.x + c.width && q.y + q.r < c.y + c.height)
                p.push_back({q.x - c.x, q.y - c.y, q.r});
        add("crop", "crop" + std::to_string(k++), Resave(FromMat(src(c).clone()), 92), p);
    }
    // The pixels turned; with the tag that turns them back, and without.
    const int W = src.cols, H = src.rows;
    struct Turn {
        int code, degrees, tag;
    };
    for (const Turn t : {Turn{cv::ROTATE_90_CLOCKWISE, 90, 8}, {cv::ROTATE_180, 180, 3}, {cv::ROTATE_90_COUNTERCLOCKWISE, 270, 6}}) {
        cv::Mat turned;
        cv::rotate(src, turned, t.code);
        std::vector<Pupil> p;
        for (const Pupil& q : pupils) {
            if (t.degrees == 90) p.push_back({H - 1 - q.y, q.x, q.r});
            if (t.degrees == 180) p.push_back({W - 1 - q.x, H - 1 - q.y, q.r});
            if (t.degrees == 270) p.push_back({q.y, W - 1 - q.x, q.r});
        }
        add("turned+tag", std::to_string(t.degrees), FromMat(turned), p, t.tag);
        add("turned", std::to_string(t.degrees), FromMat(turned), p, 1);
    }
    for (double gain : {1.3, 0.7}) {
        cv::Mat m;
        src.convertTo(m, -1, gain, 0);
        add("brightness", gain > 1 ? "+30%" : "-30%", Resave(FromMat(m), 92), pupils);
    }
    {
        cv::Mat m;
        cv::GaussianBlur(src, m, cv::Size(0, 0), 1.0);
        add("blur+noise", "blur 1.0", Resave(FromMat(m), 92), pupils);
        cv::Mat n(src.size(), CV_16SC3);
        cv::randn(n, cv::Scalar::all(0), cv::Scalar::all(6));
        cv::Mat s16;
        src.convertTo(s16, CV_16SC3);
        s16 += n;
        s16.convertTo(m, CV_8UC3);
        add("blur+noise", "noise 6", Resave(FromMat(m), 92), pupils);
    }
}

// Drawn scenes harder than the tests': several faces of every size, red
// lips, clothing, hair, labels and text, skin-coloured backdrops.
void AddDrawn(std::vector<Case>& out, int scenes) {
    for (int k = 0; k < scenes; ++k) {
        std::mt19937 rng(7000 + k);
        auto u = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
        test::SceneLayout layout;
        layout.seed = 7000 + k;
        layout.width = static_cast<int>(u(600, 2400));
        layout.height = static_cast<int>(u(500, 1800));
        layout.redClothing = u(0, 1) < 0.5;
        layout.redHair = u(0, 1) < 0.3;
        layout.redObjects = u(0, 1) < 0.4;
        layout.redLabels = u(0, 1) < 0.7;
        layout.noise = u(2, 9);
        if (u(0, 1) < 0.4) {
            const double r = u(150, 230);
            layout.backgroundTop = {r, r * u(0.6, 0.8), r * u(0.45, 0.65)};
            layout.backgroundBottom = {r * 0.8, r * 0.8 * u(0.6, 0.8), r * 0.8 * u(0.45, 0.6)};
        }
        const int faces = 1 + static_cast<int>(u(0, 3.99));
        for (int i = 0; i < faces; ++i) {
            test::DrawnFace f;
            const double column = static_cast<double>(layout.width) / faces;
            f.pupilRadius = std::exp(u(std::log(3.0), std::log(std::clamp(column / 70, 3.2, 60.0))));
            f.x = column * i + u(0.35, 0.65) * column;
            f.y = u(0.2, 0.6) * layout.height;
            f.tilt = u(-25, 25);
            f.redLeft = u(0, 1) < 0.85;
            f.redRight = u(0, 1) < 0.85;
            f.catchLight = u(0, 1) < 0.8;
            f.skin = {u(120, 235), 0, 0};
            f.skin.g = f.skin.r * u(0.62, 0.82);
            f.skin.b = f.skin.g * u(0.75, 0.95);
            layout.faces.push_back(f);
        }
        std::vector<test::DrawnPupil> drawn;
        Bitmap b = Resave(test::DrawScene(layout, &drawn), static_cast<int>(u(70, 95)));
        std::vector<Pupil> p;
        for (const test::DrawnPupil& d : drawn)
            if (d.x - d.radius >= 0 && d.y - d.radius >= 0 && d.x + d.radius < layout.width && d.y + d.radius < layout.height)
                p.push_back({d.x, d.y, d.radius});
        out.push_back({"drawn", "scene " + std::to_string(k), std::move(b), 1, std::move(p)});
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    std::string explain;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) verbose = true;
        if (std::strcmp(argv[i], "-c") == 0 && i + 1 < argc) explain = argv[++i];
        if (std::strcmp(argv[i], "-s") == 0 && i + 1 < argc) g_shots = argv[++i];
    }
    char tmpl[] = "/tmp/scarlex-detect-eval-XXXXXX";
    g_temp = mkdtemp(tmpl);
    std::vector<Case> cases;
    const std::string folder = SCARLEX_TESTDATA_DIR;
    for (const Real& r : kReal) {
        Bitmap photo;
        Sampling s;
        if (!DecodeJpegToBitmap(folder + "/" + r.file, photo, s).ok) {
            std::printf("(%s not readable: left out)\n", r.file);
            continue;
        }
        AddPerturbations(std::string(r.file).substr(7, 6), photo, r.pupils, cases);
    }
    AddDrawn(cases, 40);

    RedPupilDetector detector;
    std::map<std::string, Tally> families;
    std::vector<std::string> order;
    Tally all, real;
    for (Case& c : cases) {
        if (!explain.empty() && (explain == "*" || c.name.find(explain) != std::string::npos))
            for (const PupilCandidate& k : detector.Candidates(c.bitmap, c.orientation))
                if (k.own > 0.05)
                    std::printf("  %s %s: %.1f,%.1f r %.2f own %.2f pair %.2f eye %d face %d ring %.2f pale %.2f peak %d surround %d "
                                "fill %.2f elong %.2f holes %d/%d score %.2f\n",
                                std::any_of(c.pupils.begin(), c.pupils.end(), [&](const Pupil& q) {
                                    return std::hypot(k.fit.x - q.x, k.fit.y - q.y) <= std::max(3.0, q.r);
                                }) ? "PUPIL" : "other",
                                c.name.c_str(), k.fit.x, k.fit.y, k.fit.radius, k.own, k.pair, k.eye, k.face, k.ringRed, k.ringPale,
                                k.fit.peak, k.fit.surround, k.fit.fill, k.fit.elongation, k.fit.holeArea, k.fit.area,
                                k.score);
        const auto start = std::chrono::steady_clock::now();
        const std::vector<SuggestedPupil> found = detector.Detect(c.bitmap, c.orientation);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::vector<bool> hit(c.pupils.size(), false);
        int falseOnes = 0, foundOnes = 0;
        for (const SuggestedPupil& p : found) {
            bool matched = false;
            for (std::size_t q = 0; q < c.pupils.size() && !matched; ++q)
                if (!hit[q] && std::hypot(p.x - c.pupils[q].x, p.y - c.pupils[q].y) <= std::max(3.0, c.pupils[q].r))
                    hit[q] = matched = true;
            if (!matched) {
                ++falseOnes;
                if (verbose)
                    std::printf("  false  %-22s at %.0f,%.0f r %.1f score %.2f\n", c.name.c_str(), p.x, p.y, p.radius,
                                p.score);
                Shot(c.bitmap, p.x, p.y, p.radius, "false " + c.name + " " + std::to_string(static_cast<int>(p.x)));
            }
        }
        for (std::size_t q = 0; q < c.pupils.size(); ++q) {
            foundOnes += hit[q];
            if (!hit[q] && verbose)
                std::printf("  missed %-22s at %.0f,%.0f r %.1f\n", c.name.c_str(), c.pupils[q].x, c.pupils[q].y,
                            c.pupils[q].r);
            if (!hit[q]) Shot(c.bitmap, c.pupils[q].x, c.pupils[q].y, c.pupils[q].r, "missed " + c.name + " " + std::to_string(q));
        }
        if (!families.count(c.family)) order.push_back(c.family);
        for (Tally* t : {&families[c.family], &all, c.family == "drawn" ? nullptr : &real}) {
            if (!t) continue;
            t->pupils += static_cast<int>(c.pupils.size());
            t->found += foundOnes;
            t->falseOnes += falseOnes;
            t->photos += 1;
            t->seconds += seconds;
        }
    }
    auto line = [](const std::string& name, const Tally& t) {
        std::printf("%-12s %4d photos %5d pupils: found %5d (%5.1f %%) missed %4d  false %4d (%.2f per photo)  %.3f s each\n",
                    name.c_str(), t.photos, t.pupils, t.found, t.pupils ? 100.0 * t.found / t.pupils : 100.0,
                    t.pupils - t.found, t.falseOnes, t.photos ? static_cast<double>(t.falseOnes) / t.photos : 0.0,
                    t.photos ? t.seconds / t.photos : 0.0);
    };
    for (const std::string& f : order) line(f, families[f]);
    line("real, all", real);
    line("total", all);
    std::filesystem::remove_all(g_temp);
    return 0;
}
