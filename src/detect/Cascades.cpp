#include "detect/Cascades.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <span>

#ifndef SCARLEX_OPENCV_DATA_DIR
#define SCARLEX_OPENCV_DATA_DIR "/usr/share/opencv4"
#endif

namespace scarlex {

namespace {

// Faces are looked for in a picture of about this many pixels on its long
// side (faces from a twentieth of it up), eyes in a square of this side.
constexpr int kFacePictureSide = 400;
constexpr int kEyeSquareSide = 64;
// Degrees a face is turned either way for a second look.
constexpr double kFaceTilt = 20;

cv::Mat Wrap(const Bitmap& b) {
    return cv::Mat(b.Height(), b.Width(), CV_8UC3, const_cast<uint8_t*>(b.Data()), b.Stride());
}

// The stored grey picture turned upright.
cv::Mat Upright(const cv::Mat& stored, int tag) {
    cv::Mat out;
    switch (tag) {
        case 2: cv::flip(stored, out, 1); break;
        case 3: cv::rotate(stored, out, cv::ROTATE_180); break;
        case 4: cv::flip(stored, out, 0); break;
        case 5: cv::transpose(stored, out); break;
        case 6: cv::rotate(stored, out, cv::ROTATE_90_CLOCKWISE); break;
        case 7: cv::transpose(stored, out); cv::rotate(out, out, cv::ROTATE_180); break;
        case 8: cv::rotate(stored, out, cv::ROTATE_90_COUNTERCLOCKWISE); break;
        default: out = stored; break;
    }
    return out;
}

bool Load(cv::CascadeClassifier& c, const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    try {
        return c.load(path) && !c.empty();
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace

std::string DefaultCascadeFolder() { return SCARLEX_OPENCV_DATA_DIR; }

struct Cascades::Impl {
    cv::CascadeClassifier face;
    cv::CascadeClassifier eye;
    bool haveFace = false;
    bool haveEye = false;
    const Bitmap* photo = nullptr;
    const Bitmap* reduced = nullptr;
    Orientation orientation{1, 0, 0};
    // Grey copies of the reduced photograph, each half the one before, and
    // how many photograph pixels one of their pixels covers.
    std::vector<cv::Mat> pyramid;
    std::vector<double> scales;
};

Cascades::Cascades(const std::string& folder) : impl_(std::make_unique<Impl>()) {
    const std::string root = folder.empty() ? DefaultCascadeFolder() : folder;
    impl_->haveFace = Load(impl_->face, root + "/lbpcascades/lbpcascade_frontalface_improved.xml");
    impl_->haveEye = Load(impl_->eye, root + "/haarcascades/haarcascade_eye.xml");
}

Cascades::~Cascades() = default;

bool Cascades::HaveFaces() const { return impl_->haveFace; }
bool Cascades::HaveEyes() const { return impl_->haveEye; }

void Cascades::SetPhotograph(const Bitmap& photo, const Bitmap& reduced, int scale, const Orientation& orientation) {
    impl_->photo = &photo;
    impl_->reduced = &reduced;
    impl_->orientation = orientation;
    impl_->pyramid.clear();
    impl_->scales.clear();
    if (reduced.Empty()) return;
    try {
        // From half the reduced copy down: finer than that, an eye is looked
        // for in the photograph itself.
        cv::Mat half, grey;
        cv::resize(Wrap(reduced), half, cv::Size(reduced.Width() / 2, reduced.Height() / 2), 0, 0, cv::INTER_AREA);
        cv::cvtColor(half, grey, cv::COLOR_BGR2GRAY);
        double k = 2.0 * scale;
        while (true) {
            impl_->pyramid.push_back(grey);
            impl_->scales.push_back(k);
            if (std::min(grey.cols, grey.rows) < 64) break;
            cv::Mat next;
            cv::pyrDown(grey, next);
            grey = next;
            k *= 2;
        }
    } catch (const cv::Exception&) {
        impl_->pyramid.clear();
        impl_->scales.clear();
    }
}

std::vector<UprightBox> Cascades::Faces() const {
    std::vector<UprightBox> out;
    if (!impl_->haveFace || impl_->pyramid.empty()) return out;
    try {
        // The smallest copy that is still at least the face picture's size.
        std::size_t level = 0;
        while (level + 1 < impl_->pyramid.size() &&
               std::max(impl_->pyramid[level + 1].cols, impl_->pyramid[level + 1].rows) >= kFacePictureSide)
            ++level;
        // A small photograph is searched at its full size: at half of it
        // a face a few dozen pixels wide falls below the cascade's smallest.
        cv::Mat fine;
        double sourceScale = impl_->scales[level];
        if (std::max(impl_->pyramid[0].cols, impl_->pyramid[0].rows) < kFacePictureSide && impl_->reduced) {
            cv::cvtColor(Wrap(*impl_->reduced), fine, cv::COLOR_BGR2GRAY);
            sourceScale = impl_->scales[0] / 2;
        }
        const cv::Mat& source = fine.empty() ? impl_->pyramid[level] : fine;
        const double shrink = std::min(1.0, static_cast<double>(kFacePictureSide) / std::max(source.cols, source.rows));
        cv::Mat grey;
        if (shrink < 1.0)
            cv::resize(source, grey, cv::Size(), shrink, shrink, cv::INTER_AREA);
        else
            grey = source.clone();  // equalised below; the eye lookups need the copy as it is
        cv::Mat up = Upright(grey, impl_->orientation.Tag());
        cv::equalizeHist(up, up);
        const double k = sourceScale / shrink;  // photograph pixels per face-picture pixel
        // Upright, then turned both ways: a head held at a tilt, as people
        // lean together for a snapshot, is missed by the upright search.
        // A face found turned is handed back as the upright box around its
        // middle.
        const cv::Point2f middle((up.cols - 1) / 2.0f, (up.rows - 1) / 2.0f);
        for (const double angle : {0.0, kFaceTilt, -kFaceTilt}) {
            // A fresh picture for the turned copy: warping into `up`'s own
            // pixels would spoil them for the next angle.
            cv::Mat turned, back;
            if (angle == 0) {
                turned = up;
            } else {
                const cv::Mat turn = cv::getRotationMatrix2D(middle, angle, 1.0);
                cv::warpAffine(up, turned, turn, up.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
                cv::invertAffineTransform(turn, back);
            }
            std::vector<cv::Rect> faces;
            impl_->face.detectMultiScale(turned, faces, angle == 0 ? 1.15 : 1.2, 3, 0, cv::Size(24, 24));
            for (const cv::Rect& f : faces) {
                double mx = f.x + f.width / 2.0, my = f.y + f.height / 2.0;
                if (angle != 0) {
                    const double tx = back.at<double>(0, 0) * mx + back.at<double>(0, 1) * my + back.at<double>(0, 2);
                    const double ty = back.at<double>(1, 0) * mx + back.at<double>(1, 1) * my + back.at<double>(1, 2);
                    mx = tx;
                    my = ty;
                }
                // The same face seen at two tilts counts once.
                const double w = f.width * k, h = f.height * k, x = mx * k - w / 2, y = my * k - h / 2;
                const bool seen = std::any_of(out.begin(), out.end(), [&](const UprightBox& o) {
                    return std::hypot(o.x + o.width / 2 - mx * k, o.y + o.height / 2 - my * k) < 0.3 * std::max(o.width, w);
                });
                if (!seen) out.push_back({x, y, w, h});
            }
        }
    } catch (const cv::Exception&) {
        out.clear();
    }
    return out;
}

bool Cascades::EyeAround(double x, double y, double r, bool sideways) const {
    if (!impl_->haveEye || !impl_->photo || impl_->photo->Empty()) return false;
    const Bitmap& photo = *impl_->photo;
    try {
        // An eye is some ten pupil radii wide; look at a square twice that,
        // cut from the copy whose pixels come closest to the square's.
        constexpr int kSide = kEyeSquareSide;
        const double half = std::max(12.0, 11.0 * r);
        const double wanted = (2 * half + 1) / kSide;  // photograph pixels per square pixel
        cv::Mat grey;
        double k = 1;
        int level = -1;
        for (std::size_t l = 0; l < impl_->scales.size(); ++l)
            if (impl_->scales[l] <= wanted) level = static_cast<int>(l);
        if (level >= 0) k = impl_->scales[static_cast<std::size_t>(level)];
        const int cx = static_cast<int>(std::lround(x / k)), cy = static_cast<int>(std::lround(y / k));
        const int h = static_cast<int>(std::ceil(half / k));
        const cv::Rect want(cx - h, cy - h, 2 * h + 1, 2 * h + 1);
        const cv::Size size = level < 0 ? cv::Size(photo.Width(), photo.Height())
                                        : impl_->pyramid[static_cast<std::size_t>(level)].size();
        const cv::Rect have = want & cv::Rect(0, 0, size.width, size.height);
        if (have.width < 8 || have.height < 8) return false;
        grey = cv::Mat(want.size(), CV_8UC1, cv::Scalar(128));
        const cv::Rect into(have.x - want.x, have.y - want.y, have.width, have.height);
        if (level < 0)
            cv::cvtColor(Wrap(photo)(have), grey(into), cv::COLOR_BGR2GRAY);
        else
            impl_->pyramid[static_cast<std::size_t>(level)](have).copyTo(grey(into));
        const double toSquare = static_cast<double>(kSide) / grey.cols;
        cv::resize(grey, grey, cv::Size(kSide, kSide), 0, 0, toSquare < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
        cv::Mat up = Upright(grey, impl_->orientation.Tag());
        if (sideways) {
            cv::Mat turned;
            cv::rotate(up, turned, cv::ROTATE_90_CLOCKWISE);
            up = turned;
        }
        cv::equalizeHist(up, up);
        const double centre = (kSide - 1) / 2.0;
        const double pupil = r / k * toSquare;
        // Upright first, then turned both ways for a head held at a tilt.
        // Sideways: a quarter turn one way, then the other (half a turn on).
        const double sidewaysAngles[] = {0.0, 180.0};
        const double uprightAngles[] = {0.0, 25.0, -25.0};
        for (const double angle : sideways ? std::span<const double>(sidewaysAngles) : std::span<const double>(uprightAngles)) {
            cv::Mat turned;  // not a header on `up`: the warp must not write into it
            if (angle == 0)
                turned = up;
            else
                cv::warpAffine(up, turned, cv::getRotationMatrix2D(cv::Point2f(centre, centre), angle, 1.0), up.size(),
                               cv::INTER_LINEAR, cv::BORDER_REPLICATE);
            std::vector<cv::Rect> eyes;
            impl_->eye.detectMultiScale(turned, eyes, 1.1, 2, 0, cv::Size(18, 18), cv::Size(kSide, kSide));
            for (const cv::Rect& e : eyes) {
                // The pupil near the box's middle, the box a plausible eye for it.
                const double mx = e.x + e.width / 2.0, my = e.y + e.height / 2.0;
                if (std::fabs(mx - centre) > 0.3 * e.width || std::fabs(my - centre) > 0.3 * e.height) continue;
                if (e.width < 3.0 * pupil || e.width > 30.0 * pupil) continue;
                return true;
            }
        }
    } catch (const cv::Exception&) {
        return false;
    }
    return false;
}

}  // namespace scarlex
