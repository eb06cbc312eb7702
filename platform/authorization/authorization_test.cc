#include "platform/authorization/authorization.h"

#include <gtest/gtest.h>

namespace bcn {
namespace {

TEST(AuthorizationExternalForm, CarriesSubjectAndNonceInAFixedLayout) {
  ProcessIdentity subject{0x01020304, 0x1122334455667788ull, 0xA0B0C0D0u};
  AuthorizationNonce nonce{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  auto form = encodeAuthorizationExternalForm(subject, nonce);
  const AuthorizationExternalForm expected{'B',  'C',  'N',  'A',  0x04, 0x03, 0x02, 0x01, 0x88, 0x77, 0x66,
                                           0x55, 0x44, 0x33, 0x22, 0x11, 0xD0, 0xC0, 0xB0, 0xA0, 1,    2,
                                           3,    4,    5,    6,    7,    8,    9,    10,   11,   12};
  EXPECT_EQ(form, expected);
  auto decoded = decodeAuthorizationExternalForm(form);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->subject, subject);
  EXPECT_EQ(decoded->nonce, nonce);
}

TEST(AuthorizationExternalForm, RefusesAWrongMagicOrAMeaninglessPid) {
  AuthorizationExternalForm zeros{};
  EXPECT_FALSE(decodeAuthorizationExternalForm(zeros).has_value());
  auto form = encodeAuthorizationExternalForm({42, 1, 1}, {});
  form[3] = 'B';
  EXPECT_FALSE(decodeAuthorizationExternalForm(form).has_value());
  EXPECT_FALSE(decodeAuthorizationExternalForm(encodeAuthorizationExternalForm({0, 1, 1}, {})).has_value());
  EXPECT_FALSE(decodeAuthorizationExternalForm(encodeAuthorizationExternalForm({-7, 1, 1}, {})).has_value());
}

}  // namespace
}  // namespace bcn
