// GoogleTest base for end-to-end suites: one test LAN per suite, built before the first
// test and removed after the last; every test is skipped with the reason when this
// machine cannot build it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "test_lan.hpp"

namespace testlan {

class LanTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        missing_ = missing_prerequisites();
        if (missing_.empty()) lan_ = std::make_unique<Lan>();
    }
    static void TearDownTestSuite() { lan_.reset(); }
    void SetUp() override {
        if (!missing_.empty()) GTEST_SKIP() << "test LAN unavailable: " << missing_;
        ASSERT_TRUE(lan_->ok()) << lan_->error();
    }

    static inline std::string missing_;
    static inline std::unique_ptr<Lan> lan_;
};

}  // namespace testlan
