#pragma once
// A Qt application for the window tests, made once and kept for the run.

#include <QTest>

#include "app/Application.h"

namespace scarlex::test {

inline TApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    static TApplication* app = [] {
        auto* a = new TApplication(argc, argv);
        a->setQuitOnLastWindowClosed(false);
        return a;
    }();
    return *app;
}

}  // namespace scarlex::test
