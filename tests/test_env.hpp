#pragma once
// An environment variable set or unset for one test, with the caller's value
// put back afterwards.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

namespace test_env {

class ScopedVariable {
  public:
    explicit ScopedVariable(std::string name) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    }
    ~ScopedVariable() {
        if (saved_) {
            ::setenv(name_.c_str(), saved_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    void set(const std::string& value) { ASSERT_EQ(::setenv(name_.c_str(), value.c_str(), 1), 0); }
    void unset() { ASSERT_EQ(::unsetenv(name_.c_str()), 0); }

  private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace test_env
