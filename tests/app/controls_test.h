#pragma once
// One Qt Test binary for the shell's controls that need no browser: each test class registers
// itself, and main runs them all in turn.

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace velunor::testing {

using TestFactory = std::function<std::unique_ptr<QObject>()>;

inline std::vector<TestFactory>& ControlTests() {
    static std::vector<TestFactory> tests;
    return tests;
}

inline bool RegisterControlTest(TestFactory factory) {
    ControlTests().push_back(std::move(factory));
    return true;
}

} // namespace velunor::testing

#define VELUNOR_CONTROLS_TEST(TestClass)                                                           \
    static const bool registered##TestClass = velunor::testing::RegisterControlTest(               \
        [] { return std::unique_ptr<QObject>(new TestClass); });
