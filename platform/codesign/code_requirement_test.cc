#include "platform/codesign/code_requirement.h"

#include <gtest/gtest.h>

#include <random>

#include "protocol/admin_constants.h"

namespace bcn {
namespace {

constexpr const char* kTeam = "QB4TEAM123";

bool satisfies(std::string_view text, const CodeIdentity& identity) {
  auto requirement = CodeRequirement::parse(text);
  EXPECT_TRUE(requirement) << text;
  return requirement && requirement->isSatisfiedBy(identity);
}

const CodeIdentity kAppDeveloperID{"com.quillbank.Beaconbar", kTeam, CertificateKind::developerID};
const CodeIdentity kAppStore{"com.quillbank.Beaconbar", "OTHERTEAM1", CertificateKind::appStore};
const CodeIdentity kConsole{"com.quillbank.Beaconbar.Admin", kTeam, CertificateKind::developerID};

TEST(CodeRequirement, AppRequirementAdmitsBothDistributionsOfTheApp) {
  const std::string app = AdminConstants::appRequirement(kTeam);
  EXPECT_TRUE(satisfies(app, kAppDeveloperID));
  // The team test belongs to the Developer ID branch only, since "and"
  // binds tighter than "or": a store build signed by another team passes.
  EXPECT_TRUE(satisfies(app, kAppStore));
  EXPECT_FALSE(satisfies(app, {"com.quillbank.Beaconbar", "OTHERTEAM1", CertificateKind::developerID}));
  EXPECT_FALSE(satisfies(app, {"com.quillbank.Beaconbar.Admin", kTeam, CertificateKind::developerID}));
  EXPECT_FALSE(satisfies(app, {"com.quillbank.beaconbar", kTeam, CertificateKind::developerID}));
}

TEST(CodeRequirement, ConsoleRequirementAdmitsOnlyTheTeamsDeveloperIDConsole) {
  const std::string console = AdminConstants::adminAppRequirement(kTeam);
  EXPECT_TRUE(satisfies(console, kConsole));
  EXPECT_FALSE(satisfies(console, {"com.quillbank.Beaconbar.Admin", kTeam, CertificateKind::appStore}));
  EXPECT_FALSE(satisfies(console, {"com.quillbank.Beaconbar.Admin", "OTHERTEAM1", CertificateKind::developerID}));
  EXPECT_FALSE(satisfies(console, kAppDeveloperID));
  // Nor does an empty team match an empty OU.
  EXPECT_FALSE(satisfies(AdminConstants::adminAppRequirement(""), {"com.quillbank.Beaconbar.Admin", "",
                                                                  CertificateKind::developerID}));
}

TEST(CodeRequirement, AndBindsTighterThanOrAndParenthesesGroup) {
  const CodeIdentity x{"X", "T", CertificateKind::developerID};
  EXPECT_TRUE(satisfies(R"(identifier "X" or identifier "Y" and identifier "Z")", x));
  EXPECT_FALSE(satisfies(R"((identifier "X" or identifier "Y") and identifier "Z")", x));
  EXPECT_TRUE(satisfies(R"(((identifier "X")))", x));
  EXPECT_TRUE(satisfies(R"(identifier "A\"B" or identifier "X")", x));
  EXPECT_TRUE(satisfies("identifier \"A\\\"B\"", {"A\"B", "T", CertificateKind::developerID}));
}

TEST(CodeRequirement, UnknownClausesAreFalseButDoNotSpoilTheRest) {
  const CodeIdentity x{"X", "T", CertificateKind::developerID};
  for (const char* text : {
           R"(info[CFBundleVersion] = "1")",
           "anchor apple",
           "anchor trusted",
           "certificate 2[field.1.2.840.113635.100.6.2.6]",
           "certificate leaf[field.1.2.840.113635.100.6.2.6]",
           "certificate 1[field.1.2.840.113635.100.6.1.13]",
           "certificate leaf[subject.CN] = \"T\"",
           "certificate 1[subject.OU] = \"T\"",
           "! identifier \"X\"",
           "identifier X",
           "identifier \"X\" \"Y\"",
           "entitlement[\"com.apple.security\"] exists",
       }) {
    EXPECT_FALSE(satisfies(text, x)) << text;
  }
  EXPECT_TRUE(satisfies(R"(info[x] = "y" or identifier "X")", x));
  EXPECT_FALSE(satisfies(R"(info[x] = "y" and identifier "X")", x));
}

TEST(CodeRequirement, MalformedTextIsAnError) {
  for (const char* text : {"", "   ", "and", "identifier \"X\" and", "or identifier \"X\"", "(identifier \"X\"",
                           "identifier \"X\")", "()", "identifier \"X", "identifier \"X\" or or identifier \"Y\"",
                           "identifier \"X\" (anchor apple generic)"}) {
    EXPECT_FALSE(CodeRequirement::parse(text)) << text;
  }
  EXPECT_FALSE(CodeRequirement::parse(std::string(5000, '(') + "anchor apple generic" + std::string(5000, ')')));
  EXPECT_FALSE(CodeRequirement::parse(std::string(CodeRequirement::kMaxTextBytes + 1, 'a')));
  std::string deep;
  for (std::size_t i = 0; i < CodeRequirement::kMaxNesting; ++i) deep += "(";
  deep += "anchor apple generic";
  for (std::size_t i = 0; i < CodeRequirement::kMaxNesting; ++i) deep += ")";
  EXPECT_TRUE(CodeRequirement::parse(deep));
}

TEST(CodeRequirement, RandomTextNeverCrashesOrAdmitsByAccident) {
  const std::string alphabet = "()[]=\"\\! .andor identifier anchor apple generic certificate leaf field.1 \x01\xff";
  std::mt19937 random(11);
  const CodeIdentity x{"X", "T", CertificateKind::developerID};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (std::size_t n = random() % 80; n > 0; --n) text.push_back(alphabet[random() % alphabet.size()]);
    auto parsed = CodeRequirement::parse(text);
    // Nothing here names identifier "X" or a certificate field, so only the
    // bare anchor clause could admit.
    if (parsed && parsed->isSatisfiedBy(x)) {
      EXPECT_NE(text.find("anchor apple generic"), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace bcn
