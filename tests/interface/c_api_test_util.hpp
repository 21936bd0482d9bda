#pragma once
// The last error as a host sees it through the C interface.

#include <gtest/gtest.h>

#include <string>

#include "velunor.h"

namespace c_api_test {

inline std::string last_error_message(int& code) {
    char text[512] = {};
    EXPECT_EQ(velunor_get_last_error(&code, text, static_cast<int>(sizeof text)), 0);
    return text;
}

inline std::string last_error_message() {
    int code = 0;
    return last_error_message(code);
}

}  // namespace c_api_test
