#pragma once
// The QApplication of a Qt test program: made before its first test, removed after its last.
//
//   const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(
//       new nimbrel::test::QtTestEnvironment("app_tests", [] { /* seams, display name */ }));

#include <gtest/gtest.h>

#include <QApplication>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace nimbrel::test {

class QtTestEnvironment : public ::testing::Environment {
public:
    // `program` is the application's argv[0]; `started` runs once the application exists.
    explicit QtTestEnvironment(std::string program, std::function<void()> started = {})
        : program_(std::move(program)), started_(std::move(started)) {}

    void SetUp() override {
        // QApplication keeps argc and argv for its whole life; they live as long as this object.
        argv_[0] = program_.data();
        argv_[1] = nullptr;
        application_ = std::make_unique<QApplication>(argc_, argv_);
        if (started_) started_();
    }
    void TearDown() override { application_.reset(); }

private:
    std::string program_;
    std::function<void()> started_;
    int argc_ = 1;
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<QApplication> application_;
};

}  // namespace nimbrel::test
