#include "editing/EditScript.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "editing/FittedRemoval.h"

namespace scarlex {

namespace {

// Far enough for any photograph, near enough that no sum overflows.
constexpr long kCoordinateBound = 100000000;

bool ParseInts(const std::string& text, std::size_t count, std::vector<long>& values) {
    values.clear();
    const char* p = text.c_str();
    while (true) {
        if (*p == ' ' || *p == '\t' || *p == '\0') return false;
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(p, &end, 10);
        if (end == p || errno == ERANGE) return false;
        values.push_back(v);
        p = end;
        if (*p != ',') break;
        ++p;
    }
    return *p == '\0' && values.size() == count;
}

// "X,Y,R": whole X and Y, R a number that may have a fraction after a dot.
bool ParseCircle(const std::string& text, std::vector<long>& values, double& radius) {
    const std::size_t comma = text.rfind(',');
    if (comma == std::string::npos || !ParseInts(text.substr(0, comma), 2, values)) return false;
    const std::string r = text.substr(comma + 1);
    const char* first = r.c_str();
    const char* last = first + r.size();
    if (r.empty() || *first == '+' || *first == ' ') return false;
    const auto [end, ec] = std::from_chars(first, last, radius, std::chars_format::fixed);
    return ec == std::errc() && end == last && std::isfinite(radius);
}

// A number from 0 to 1 with a dot (or a comma) before the fraction.
bool ParseScore(std::string text, double& score) {
    for (char& c : text)
        if (c == ',') c = '.';
    const char* first = text.c_str();
    const char* last = first + text.size();
    if (text.empty() || *first == '+') return false;
    const auto [end, ec] = std::from_chars(first, last, score, std::chars_format::fixed);
    return ec == std::errc() && end == last && score >= 0 && score <= 1;
}

}  // namespace

EditOptionStatus ParseEditOption(const std::vector<std::string>& args, std::size_t& index,
                                 std::vector<EditStep>& steps, std::string& error) {
    if (index >= args.size()) return EditOptionStatus::NotEditOption;
    const std::string& name = args[index];
    EditStep step;
    step.written = name;

    struct Flag {
        const char* name;
        EditStepKind kind;
        int value;
    };
    static const Flag flags[] = {{"--no-limit", EditStepKind::NoLimit, 0},
                                 {"--undo", EditStepKind::Undo, 0},
                                 {"--auto", EditStepKind::Auto, 0},
                                 {"--force-grey", EditStepKind::ForceGrey, 1},
                                 {"--no-force-grey", EditStepKind::ForceGrey, 0}};
    for (const Flag& f : flags) {
        if (name != f.name) continue;
        step.kind = f.kind;
        step.value = f.value;
        steps.push_back(step);
        ++index;
        return EditOptionStatus::Parsed;
    }

    struct Valued {
        const char* name;
        EditStepKind kind;
        int numbers;  // 0: free text
        const char* shape;
    };
    static const Valued valued[] = {{"--click", EditStepKind::Click, 2, "X,Y"},
                                    {"--pupil", EditStepKind::Pupil, 2, "X,Y"},
                                    {"--circle", EditStepKind::Circle, 3, "X,Y,A"},
                                    {"--limit", EditStepKind::Limit, 3, "X,Y,R"},
                                    {"--min-score", EditStepKind::MinScore, 0, "S"},
                                    {"--rg", EditStepKind::ThresholdRG, 0, "TEXT"},
                                    {"--rb", EditStepKind::ThresholdRB, 0, "TEXT"},
                                    {"--red", EditStepKind::ThresholdR, 0, "TEXT"},
                                    {"--attenuation", EditStepKind::Attenuation, 1, "N"}};
    for (const Valued& v : valued) {
        if (name != v.name) continue;
        if (index + 1 >= args.size()) {
            error = name + " needs a value (" + v.shape + ")";
            return EditOptionStatus::Error;
        }
        const std::string& value = args[index + 1];
        step.kind = v.kind;
        step.written = name + " " + value;
        if (v.kind == EditStepKind::MinScore) {
            if (!ParseScore(value, step.score)) {
                error = name + ": bad value '" + value + "' (expected a number from 0 to 1)";
                return EditOptionStatus::Error;
            }
        } else if (v.numbers == 0) {
            step.text = value;
        } else {
            std::vector<long> n;
            double radius = 0;
            const bool parsed = v.numbers == 3 ? ParseCircle(value, n, radius)
                                               : ParseInts(value, static_cast<std::size_t>(v.numbers), n);
            if (!parsed) {
                error = name + ": bad value '" + value + "' (expected " + v.shape + ")";
                return EditOptionStatus::Error;
            }
            if (v.kind == EditStepKind::Attenuation) {
                if (n[0] < 0 || n[0] > 100) {
                    error = name + ": " + value + " is not within 0 .. 100";
                    return EditOptionStatus::Error;
                }
                step.value = static_cast<int>(n[0]);
            } else {
                for (long c : n) {
                    if (c < -kCoordinateBound || c > kCoordinateBound) {
                        error = name + ": '" + value + "' is out of range";
                        return EditOptionStatus::Error;
                    }
                }
                if (v.numbers == 3 && radius > kCoordinateBound) {
                    error = name + ": '" + value + "' is out of range";
                    return EditOptionStatus::Error;
                }
                step.x = static_cast<int>(n[0]);
                step.y = static_cast<int>(n[1]);
                if (v.numbers == 3) {
                    if (radius < 1) {
                        error = name + ": the radius must be at least 1";
                        return EditOptionStatus::Error;
                    }
                    step.r = radius;
                }
            }
        }
        steps.push_back(step);
        index += 2;
        return EditOptionStatus::Parsed;
    }
    return EditOptionStatus::NotEditOption;
}

std::string ParseEditScript(const std::vector<std::string>& args, std::vector<EditStep>& steps) {
    std::size_t index = 0;
    while (index < args.size()) {
        std::string error;
        switch (ParseEditOption(args, index, steps, error)) {
            case EditOptionStatus::Parsed:
                break;
            case EditOptionStatus::Error:
                return error;
            case EditOptionStatus::NotEditOption:
                return "unknown edit option '" + args[index] + "'";
        }
    }
    return "";
}

EditSession::EditSession(Bitmap& work, DBUndoTable& undo, std::string decimalSeparator)
    : work_(work), undo_(undo), separator_(std::move(decimalSeparator)),
      settings_(DefaultEditSettings(separator_)) {}

std::string EditSession::Apply(const EditStep& step) {
    switch (step.kind) {
        case EditStepKind::Click:
        case EditStepKind::Circle: {
            // The view numbers of a magnifier whose crosshair moves in bitmap
            // pixels. A radius is Limit * ViewScale / Magnification: with a
            // limit of one view pixel, the view scale carries the radius,
            // fraction and all, as a float as the window's does.
            RemovalView view;
            view.ViewScale = 1.0f;
            view.Magnification = 1;
            view.MagnifierScale = 1.0f;
            if (step.kind == EditStepKind::Circle) {
                view.CentreX = step.x;
                view.CentreY = step.y;
                view.Radius = view.Limit = 1;
                view.ViewScale = static_cast<float>(step.r);
                view.LimitActive = false;
            } else if (limitActive_) {
                view.CentreX = limitX_;
                view.CentreY = limitY_;
                view.CrossX = step.x - limitX_;
                view.CrossY = step.y - limitY_;
                view.Limit = 1;
                view.Radius = 2;
                view.ViewScale = static_cast<float>(limitR_);
                view.LimitActive = true;
            } else {
                view.CentreX = step.x;
                view.CentreY = step.y;
            }
            bool abort = false;
            RemovalHooks hooks;
            hooks.abortRemoval = &abort;
            const RemovalResult r = remover_.Remove(work_, undo_, settings_, view,
                                                    step.kind == EditStepKind::Circle, hooks, separator_);
            if (r.outcome == RemovalOutcome::Refused) return r.error;
            if (r.outcome == RemovalOutcome::Recorded)
                ++recorded_;
            else
                ++unchanged_;
            return "";
        }
        case EditStepKind::Pupil:
        case EditStepKind::Auto: {
            const ThresholdConversion c = ConvertThresholds(settings_, separator_);
            if (!c.ok) return c.error;
            if (step.kind == EditStepKind::Pupil) {
                // As a Ctrl release: bounded by the limit when one is set.
                RemovalView view;
                view.CentreX = limitX_;
                view.CentreY = limitY_;
                view.Limit = 1;
                view.Radius = 2;
                view.ViewScale = static_cast<float>(limitR_);
                view.Magnification = 1;
                view.LimitActive = limitActive_;
                const LimitCircle limit(view);
                const RemovalResult r = FixPupilAt(work_, undo_, c.thresholds, step.x, step.y, 0,
                                                   limitActive_ ? &limit : nullptr);
                if (r.outcome == RemovalOutcome::Recorded) {
                    ++recorded_;
                    ++pupilsFixed_;
                } else {
                    ++unchanged_;
                }
                return "";
            }
            if (!finder_) return "no detector to find the pupils";
            const std::vector<SuggestedPupil> pupils = finder_(work_, minScore_);
            suggested_ += static_cast<int>(pupils.size());
            for (const SuggestedPupil& p : pupils) {
                const RemovalResult r = FixPupilAt(work_, undo_, c.thresholds, p.x, p.y, p.radius);
                if (r.outcome == RemovalOutcome::Recorded) {
                    ++recorded_;
                    ++pupilsFixed_;
                } else {
                    ++unchanged_;
                }
            }
            return "";
        }
        case EditStepKind::MinScore:
            minScore_ = step.score;
            return "";
        case EditStepKind::Limit:
            limitActive_ = true;
            limitX_ = step.x;
            limitY_ = step.y;
            limitR_ = step.r;
            return "";
        case EditStepKind::NoLimit:
            limitActive_ = false;
            return "";
        case EditStepKind::Undo:
            if (undo_.Empty()) return "nothing to undo";
            undo_.Undo(work_);
            return "";
        // A text the removal could not convert is refused here, so the
        // message names the option it came from.
        case EditStepKind::ThresholdRG:
            if (!TextToExtended(step.text, separator_)) return "'" + step.text + "' is not a valid floating point value";
            settings_.ThresholdRG = step.text;
            return "";
        case EditStepKind::ThresholdRB:
            if (!TextToExtended(step.text, separator_)) return "'" + step.text + "' is not a valid floating point value";
            settings_.ThresholdRB = step.text;
            return "";
        case EditStepKind::ThresholdR:
            if (!TextToDouble(step.text, separator_)) return "Could not convert variant of type (String) into type (Double)";
            settings_.ThresholdR = step.text;
            return "";
        case EditStepKind::Attenuation:
            settings_.Attenuation = step.value;
            return "";
        case EditStepKind::ForceGrey:
            settings_.ForceGrey = step.value != 0;
            return "";
    }
    return "";
}

std::string EditSession::ApplyAll(const std::vector<EditStep>& steps) {
    for (const EditStep& step : steps) {
        const std::string error = Apply(step);
        if (!error.empty()) return step.written + ": " + error;
    }
    return "";
}

}  // namespace scarlex
