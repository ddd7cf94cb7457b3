// The strict number readers and validators every tool's options go through.
#include "cli_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace gridwave::tools {
namespace {

TEST(ReadNumbers, OnlyPlainDecimalTextIsANumber) {
  const struct {
    const char* text;
    std::optional<long long> whole;
    std::optional<double> real;
  } cases[] = {
      {"5", 5, 5.0},
      {"-12", -12, -12.0},
      {"+7", 7, 7.0},
      {"010", 10, 10.0},  // decimal, never octal
      {"9223372036854775807", 9223372036854775807LL, 9223372036854775807.0},
      {"9223372036854775808", std::nullopt, 9223372036854775808.0},
      {"2.5", std::nullopt, 2.5},
      {"-.5", std::nullopt, -0.5},
      {"1.", std::nullopt, 1.0},
      {"1e3", std::nullopt, 1000.0},
      {"1E-2", std::nullopt, 0.01},
      {"5 ", std::nullopt, std::nullopt},
      {" 5", std::nullopt, std::nullopt},
      {"0x10", std::nullopt, std::nullopt},
      {"0x1p3", std::nullopt, std::nullopt},
      {"nan", std::nullopt, std::nullopt},
      {"-inf", std::nullopt, std::nullopt},
      {"infinity", std::nullopt, std::nullopt},
      {"1e999", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {"-", std::nullopt, std::nullopt},
      {".", std::nullopt, std::nullopt},
      {"1e", std::nullopt, std::nullopt},
      {"1e+", std::nullopt, std::nullopt},
      {"5kHz", std::nullopt, std::nullopt},
      {"1,5", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(read_whole_number(c.text), c.whole);
    EXPECT_EQ(read_real_number(c.text), c.real);
  }
}

// What a user sees for a bad value, and what CLI11 gets for a good one.
TEST(NumberValidators, NameTheBadValueAndTheBounds) {
  const struct {
    CLI::Validator validator;
    std::string text;
    std::string message;  // empty: accepted
    std::string passed_on;
  } cases[] = {
      {whole_number(1, 8000), "5 ", "'5 ' is not a whole number", ""},
      {whole_number(1, 8000), "0x10", "'0x10' is not a whole number", ""},
      {whole_number(1, 8000), "0", "0 is out of range: it must be from 1 to 8000", ""},
      {whole_number(1, 8000), "8001", "8001 is out of range: it must be from 1 to 8000", ""},
      {whole_number(1, 8000), "0010", "", "10"},
      {real_number(1, 200), "nan", "'nan' is not a finite number", ""},
      {real_number(1, 200), "1e999", "'1e999' is not a finite number", ""},
      {real_number(1, 200), "sixty", "'sixty' is not a decimal number", ""},
      {real_number(1, 200), "0.5", "0.5 is out of range: it must be from 1 to 200", ""},
      {real_number(1, 200), "60", "", "60"},
      {real_above(0), "0", "0 is out of range: it must be above 0", ""},
      {real_above(0), "-inf", "'-inf' is not a finite number", ""},
      {real_above(0), "312.5", "", "312.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    EXPECT_EQ(c.validator(text), c.message);
    if (c.message.empty()) {
      EXPECT_EQ(text, c.passed_on);
    }
  }
}

}  // namespace
}  // namespace gridwave::tools
