#include "support/FaceScene.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>

#include <opencv2/imgproc.hpp>

namespace scarlex::test {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Canvas {
    Bitmap& b;

    void Blend(int x, int y, const Colour& c, double alpha) {
        if (alpha <= 0 || !b.Contains(x, y)) return;
        alpha = std::min(alpha, 1.0);
        uint8_t* p = b.Pixel(x, y);
        const double v[3] = {c.b, c.g, c.r};
        for (int k = 0; k < 3; ++k) {
            const double blended = p[k] + alpha * (v[k] - p[k]);
            p[k] = static_cast<uint8_t>(std::clamp(std::lround(blended), 0L, 255L));
        }
    }

    // A rotated ellipse with a soft edge of `soft` pixels; `colour` gets the
    // point in the ellipse's own frame scaled to its radii (1 at the edge).
    void Ellipse(double cx, double cy, double rx, double ry, double angle, double soft,
                 const std::function<Colour(double, double)>& colour, double opacity = 1.0) {
        if (rx <= 0 || ry <= 0) return;
        const double c = std::cos(angle), s = std::sin(angle);
        const double reach = std::max(rx, ry) + soft + 1;
        const int x0 = static_cast<int>(std::floor(cx - reach)), x1 = static_cast<int>(std::ceil(cx + reach));
        const int y0 = static_cast<int>(std::floor(cy - reach)), y1 = static_cast<int>(std::ceil(cy + reach));
        const double edge = soft / std::min(rx, ry);
        for (int y = std::max(0, y0); y <= std::min(b.Height() - 1, y1); ++y)
            for (int x = std::max(0, x0); x <= std::min(b.Width() - 1, x1); ++x) {
                const double dx = x - cx, dy = y - cy;
                const double u = (dx * c + dy * s) / rx, v = (-dx * s + dy * c) / ry;
                const double d = std::sqrt(u * u + v * v);
                const double cover = std::clamp((1.0 - d) / edge + 0.5, 0.0, 1.0);
                if (cover > 0) Blend(x, y, colour(u, v), cover * opacity);
            }
    }

    void Flat(double cx, double cy, double rx, double ry, double angle, double soft, Colour c, double opacity = 1.0) {
        Ellipse(cx, cy, rx, ry, angle, soft, [c](double, double) { return c; }, opacity);
    }
};

Colour Scale(Colour c, double k) { return {c.r * k, c.g * k, c.b * k}; }
Colour Mix(Colour a, Colour b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void DrawFace(Canvas& canvas, const DrawnFace& f, const SceneLayout& layout, std::mt19937& rng,
              std::vector<DrawnPupil>* pupils) {
    const double r = f.pupilRadius;
    const double angle = f.tilt * kPi / 180.0;
    const double ca = std::cos(angle), sa = std::sin(angle);
    auto at = [&](double lx, double ly, double& x, double& y) {
        x = f.x + lx * r * ca - ly * r * sa;
        y = f.y + lx * r * sa + ly * r * ca;
    };
    double x = 0, y = 0;
    const double soft = std::max(1.0, 0.15 * r);

    // Clothing and neck below, hair behind.
    at(0, 46, x, y);
    const Colour cloth = layout.redClothing ? Colour{196, 28, 36} : Colour{42, 62, 112};
    canvas.Flat(x, y, 34 * r, 14 * r, angle, soft, cloth);
    if (layout.redClothing) {
        std::uniform_real_distribution<double> jitter(-0.3, 0.3);
        for (int k = 0; k < 4; ++k) {
            at(jitter(rng), 37 + 3.2 * k, x, y);
            canvas.Flat(x, y, 1.2 * r, 1.2 * r, 0, 0.8, Colour{232, 44, 44});
        }
    }
    at(0, 32, x, y);
    canvas.Flat(x, y, 8 * r, 10 * r, angle, soft, Scale(f.skin, 0.88));
    const Colour hair = layout.redHair ? Colour{196, 84, 42} : f.hair;
    at(0, -6, x, y);
    canvas.Flat(x, y, 25 * r, 26 * r, angle, soft, hair);

    // The face, lit from the front: darker toward its edge.
    at(0, 6, x, y);
    const Colour skin = f.skin;
    canvas.Ellipse(x, y, 21 * r, 29 * r, angle, soft,
                   [skin](double u, double v) { return Scale(skin, 1.0 - 0.18 * (u * u + v * v)); });
    if (layout.redHair) {
        // Loose strands over the forehead and down the sides.
        std::uniform_real_distribution<double> side(-24, 24), along(-30, 10), turn(-0.4, 0.4), shade(0.75, 1.15);
        for (int k = 0; k < 220; ++k) {
            const double lx = side(rng), ly = along(rng);
            if (std::fabs(lx) < 16 && ly > -12) continue;  // keep the face clear
            at(lx, ly, x, y);
            canvas.Flat(x, y, 0.35 * r, 9 * r, angle + turn(rng), 0.8, Scale(hair, shade(rng)), 0.8);
        }
    }

    // Brows, eyes, nose, mouth.
    for (int side = -1; side <= 1; side += 2) {
        at(side * 10.5, -5.2, x, y);
        canvas.Flat(x, y, 6 * r, 1.1 * r, angle + side * 0.08, soft, Scale(f.hair, 0.9));
        double ex = 0, ey = 0;
        at(side * 10.5, 0, ex, ey);
        canvas.Flat(ex, ey, 5.6 * r, 2.7 * r, angle, std::max(0.8, 0.1 * r), Colour{232, 226, 220});
        const Colour iris = f.iris;
        canvas.Ellipse(ex, ey, 2.2 * r, 2.2 * r, 0, std::max(0.7, 0.08 * r),
                       [iris](double u, double v) { return Mix(iris, Scale(iris, 0.55), std::hypot(u, v)); });
        const bool red = side < 0 ? f.redLeft : f.redRight;
        if (red) {
            canvas.Ellipse(ex, ey, r, r, 0, std::max(0.7, 0.08 * r), [](double u, double v) {
                return Mix(Colour{218, 42, 36}, Colour{158, 30, 30}, u * u + v * v);
            });
            if (pupils) pupils->push_back({ex, ey, r});
        } else {
            canvas.Flat(ex, ey, r, r, 0, std::max(0.7, 0.08 * r), Colour{24, 20, 20});
        }
        if (f.catchLight) {
            const double cr = std::max(0.8, 0.3 * r);
            canvas.Flat(ex + f.catchLightAt * r, ey - f.catchLightAt * r, cr, cr, 0, 0.6, Colour{250, 246, 246});
        }
        // The upper lid's line over the top of the eye.
        at(side * 10.5, -2.6, x, y);
        canvas.Flat(x, y, 5.8 * r, 0.45 * r + 0.4, angle, 0.8, Colour{82, 52, 44});
    }
    at(0, 9, x, y);
    canvas.Flat(x, y, 3 * r, 2 * r, angle, 1.5 * soft, Scale(skin, 0.82), 0.8);
    at(0, 17, x, y);
    canvas.Flat(x, y, 7 * r, 1.8 * r, angle, soft, f.redLips ? Colour{192, 58, 70} : Colour{172, 112, 102});
}

// Printed red: a label with white letters and red letters on a light card,
// beside the face and below its eyes, the round letters about as large as
// its pupils.
void DrawLabels(Bitmap& b, const DrawnFace& f, std::mt19937& rng) {
    cv::Mat m(b.Height(), b.Width(), CV_8UC3, b.Data(), b.Stride());
    const double r = f.pupilRadius;
    std::uniform_real_distribution<double> size(0.5, 1.3);
    const char* words[] = {"SALE 50%", "cola", "BOO 0.9", "no.8 eco", "OPEN", "tea o'clock"};
    int k = static_cast<int>(rng() % 6);
    for (int side = -1; side <= 1; side += 2) {
        const double scale = size(rng) * r / 5.0;  // putText's letters are about 22 px per unit
        const int thickness = std::max(1, static_cast<int>(std::lround(scale * 2)));
        const std::string text = words[k++ % 6];
        int base = 0;
        const cv::Size s = cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, scale, thickness, &base);
        const cv::Point at(static_cast<int>(f.x + side * 30 * r - (side < 0 ? s.width : 0)),
                           static_cast<int>(f.y + (side < 0 ? 4 : 16) * r));
        const cv::Rect card(at.x - s.height / 2, at.y - s.height * 3 / 2, s.width + s.height, s.height * 2 + base);
        if (side < 0) {
            cv::rectangle(m, card, cv::Scalar(40, 30, 205), cv::FILLED);
            cv::putText(m, text, at, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(245, 245, 245), thickness, cv::LINE_AA);
        } else {
            cv::rectangle(m, card, cv::Scalar(225, 235, 240), cv::FILLED);
            cv::putText(m, text, at, cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(38, 36, 214), thickness, cv::LINE_AA);
        }
    }
}

}  // namespace

Bitmap DrawScene(const SceneLayout& layout, std::vector<DrawnPupil>* pupils) {
    Bitmap b(layout.width, layout.height);
    std::mt19937 rng(layout.seed);
    for (int y = 0; y < b.Height(); ++y) {
        const double t = static_cast<double>(y) / std::max(1, b.Height() - 1);
        const Colour c = Mix(layout.backgroundTop, layout.backgroundBottom, t);
        uint8_t* row = b.Row(y);
        for (int x = 0; x < b.Width(); ++x) {
            row[3 * x] = static_cast<uint8_t>(c.b);
            row[3 * x + 1] = static_cast<uint8_t>(c.g);
            row[3 * x + 2] = static_cast<uint8_t>(c.r);
        }
    }
    Canvas canvas{b};
    if (layout.redObjects) {
        // Red things that are not round: boxes, stripes, a long scarf.
        std::uniform_real_distribution<double> px(0, layout.width), py(0, layout.height), size(6, 60), turn(0, kPi);
        for (int k = 0; k < 12; ++k) {
            const double cx = px(rng), cy = py(rng), w = size(rng);
            const double angle = turn(rng);
            const Colour red{200 + 30.0 * (k % 2), 30, 35};
            // Long thin ellipses and squarish blocks.
            if (k % 3 == 0)
                canvas.Flat(cx, cy, 4 * w, 0.4 * w, angle, 1.0, red);
            else
                for (int j = -3; j <= 3; ++j)
                    canvas.Flat(cx + j * w * 0.3 * std::cos(angle), cy + j * w * 0.3 * std::sin(angle), 0.6 * w,
                                0.6 * w, angle, 1.0, red);
        }
    }
    for (const DrawnFace& f : layout.faces) DrawFace(canvas, f, layout, rng, pupils);
    if (layout.redLabels)
        for (const DrawnFace& f : layout.faces) DrawLabels(b, f, rng);

    if (layout.noise > 0) {
        uint32_t state = layout.seed * 2654435761u + 1;
        const int amplitude = static_cast<int>(layout.noise);
        for (int y = 0; y < b.Height(); ++y) {
            uint8_t* row = b.Row(y);
            for (int i = 0; i < 3 * b.Width(); ++i) {
                state = state * 1664525u + 1013904223u;
                const int n = static_cast<int>((state >> 16) % (2 * amplitude + 1)) - amplitude;
                row[i] = static_cast<uint8_t>(std::clamp(row[i] + n, 0, 255));
            }
        }
    }
    return b;
}

}  // namespace scarlex::test
