// The form decoder, on both platforms; on Linux also against the HTTP library whose decoding it
// keeps, so that no query or form changes meaning.
#include "frontend/form_fields.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <httplib.h>
#endif

namespace {

TEST(FormFields, DecodesBytesPlusAndUnicodeEscapes) {
  EXPECT_EQ(formDecoded("a+b%20c"), "a b c");
  EXPECT_EQ(formDecoded("%41%4a%4A"), "AJJ");
  EXPECT_EQ(formDecoded("%u00e9"), "\xC3\xA9");
  EXPECT_EQ(formDecoded("%u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(formDecoded("%u0041"), "A");
  EXPECT_EQ(formDecoded(std::string_view("%00", 3)), std::string(1, '\0'));
}

TEST(FormFields, KeepsBrokenEscapesAsTheyAre) {
  EXPECT_EQ(formDecoded("%"), "%");
  EXPECT_EQ(formDecoded("100%"), "100%");
  EXPECT_EQ(formDecoded("%4"), "%4");
  EXPECT_EQ(formDecoded("%zz"), "%zz");
  EXPECT_EQ(formDecoded("%u12"), "%u12");
  EXPECT_EQ(formDecoded("%u12g4"), "%u12g4");
  // A lone surrogate half has no UTF-8 form: it is dropped, never written as invalid bytes.
  EXPECT_EQ(formDecoded("x%uD800y"), "xy");
  EXPECT_EQ(formDecoded("%%41"), "%A");
}

TEST(FormFields, SplitsFieldsInOrderAndCountsThem) {
  FieldList fields;
  ASSERT_TRUE(appendUrlEncodedFields("a=1&&b&=skipped&c=%3D%26", 10, &fields));
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], (std::pair<std::string, std::string>("a", "1")));
  EXPECT_EQ(fields[1], (std::pair<std::string, std::string>("b", "")));
  EXPECT_EQ(fields[2], (std::pair<std::string, std::string>("c", "=&")));
  FieldList few;
  EXPECT_FALSE(appendUrlEncodedFields("a=1&b=2&c=3", 2, &few));
  EXPECT_EQ(few.size(), 2u);
  FieldList withNul;
  ASSERT_TRUE(appendUrlEncodedFields("a=x%00y", 10, &withNul));
  EXPECT_TRUE(anyFieldHoldsNul(withNul));
}

#ifndef _WIN32
TEST(FormFields, DecodesAsTheHttpLibraryDid) {
  const char* samples[] = {"", "plain", "a+b", "%41%42", "%4", "%", "%g1", "%u00E9x", "%u20ac", "%uD83D%uDE00",
                           "%uFFFF", "%u0800", "%u07ff", "%u12", "%u+1234", "+%2B+", "%%%41", "%u%41",
                           "%ud7ff", "%ue000", "%C3%A9", "end%"};
  for (const char* sample : samples) {
    EXPECT_EQ(formDecoded(sample), httplib::detail::decode_url(sample, true)) << sample;
  }
  // Every two-character escape.
  for (int value = 0; value < 256; ++value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "%%%02X", value);
    EXPECT_EQ(formDecoded(escape), httplib::detail::decode_url(escape, true)) << escape;
  }
}
#endif

}  // namespace
