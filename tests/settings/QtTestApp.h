#pragma once
// One QApplication for a GUI test program, made before the first test and
// gone after the last. Runs offscreen unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace scarlex::test {

class QtTestApp : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[8] = "scarlex";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kQtTestApp = ::testing::AddGlobalTestEnvironment(new QtTestApp);

}  // namespace scarlex::test
