// Which recordings settings were tuned on: the SHA-256 fingerprint, the
// tuned-on lines of a settings file, and velmora-eval marking in-sample
// recordings in every output.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "EvalRender.h"
#include "Provenance.h"
#include "SettingsTable.h"
#include "Sha256.h"
#include "TestSupport.h"

namespace {

namespace ev = velmora::evaluation;
using testsupport::readFile;
using testsupport::recordingText;
using testsupport::runProgram;
using testsupport::TempDir;

std::string sha256(const std::string& text) {
  ev::Sha256 hash;
  hash.add(text);
  return hash.hexDigest();
}

TEST(Fingerprint, Sha256MatchesTheStandardTestVectors) {
  EXPECT_EQ(sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the padding needs a block of its own.
  EXPECT_EQ(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // A million bytes in uneven pieces: blocks straddle the pieces.
  ev::Sha256 million;
  const std::string piece(997, 'a');
  for (int added = 0; added < 1000000; added += 997) {
    million.add(piece.data(), std::min<std::size_t>(997, 1000000 - added));
  }
  EXPECT_EQ(million.hexDigest(),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Fingerprint, FileFingerprintIsItsBytesNotItsName) {
  const TempDir dir;
  const auto a = dir.write("a.csv", "abc");
  const auto b = dir.write("sub-b.csv", "abc");
  std::string error;
  EXPECT_EQ(ev::fingerprintFile(a.string(), error),
            "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ev::fingerprintFile(b.string(), error), ev::fingerprintFile(a.string(), error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(ev::fingerprintFile(dir.path().string(), error), "");
  EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
}

TEST(Fingerprint, TunedOnLinesReadBackAndStayCommentsForEverySettingsReader) {
  const std::string x = "sha256:" + std::string(64, 'a');
  const std::string y = "sha256:" + std::string(64, '0');
  const std::string text = "lowLevel=70\n" + ev::formatTunedOn({x, y, x});
  ev::SettingsProvenance provenance;
  ASSERT_EQ(ev::readTunedOn(text, "t.settings", provenance), "");
  EXPECT_EQ(provenance.tunedOn, (std::vector<std::string>{y, x}));
  EXPECT_TRUE(provenance.tunedOnFingerprint(x));
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  EXPECT_EQ(applySettingsText(settings, text, "t.settings"), "");
  EXPECT_EQ(settings.lowLevel, 70);

  // A damaged line is refused, never taken for "tuned on nothing".
  ev::SettingsProvenance damaged;
  EXPECT_EQ(ev::readTunedOn("a=1\n# tuned-on sha256:" + std::string(63, 'a') + "\n", "t.settings",
                            damaged),
            "t.settings:2: a tuned-on line needs 'sha256:' and 64 lowercase hexadecimal digits");
}

// velmora-eval with settings tuned on some of its recordings (one of them
// also present under another name).
class EvalInSample : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(std::filesystem::path(VELMORA_BIN_DIR) / "velmora-eval")) {
      GTEST_SKIP() << "velmora-eval was not built (it needs RE2: Debian package libre2-dev)";
    }
  }
};

TEST_F(EvalInSample, RecordingsTheSettingsWereTunedOnAreMarkedInEveryOutput) {
  const TempDir dir;
  const std::vector<std::vector<int>> still(200, {0, -8192, 0, 0, 0, 0});
  std::vector<std::vector<int>> other = still;
  other[7][0] = 100;
  std::filesystem::create_directory(dir.path() / "data");
  const auto tuned = dir.write("data/a_tuned.csv", recordingText(still));
  dir.write("data/b_copy.csv", recordingText(still));
  dir.write("data/c_new.csv", recordingText(other));
  std::string error;
  const std::string fingerprint = ev::fingerprintFile(tuned.string(), error);
  ASSERT_EQ(error, "");
  const auto settings =
      dir.write("tuned.settings", "lowLevel=70\n" + ev::formatTunedOn({fingerprint}));
  const auto csv = dir.path() / "out.csv";
  const auto json = dir.path() / "out.json";
  const auto html = dir.path() / "out.html";
  const auto result = runProgram(
      "velmora-eval", {"-q", "--settings", settings.string(), "--csv", csv.string(), "--json",
                       json.string(), "--html", html.string(), (dir.path() / "data").string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("Settings file: " + settings.string() + "\n"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\nin-sample: 2 of 3 recordings were used to tune these settings; "
                            "their figures overstate what new people will see\n"),
            std::string::npos)
      << result.out;
  const std::string rows = readFile(csv);
  EXPECT_NE(rows.find(",problem,in_sample\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find("a_tuned.csv,200,0,,,,,tn,0,0,,,true\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find("b_copy.csv,200,0,,,,,tn,0,0,,,true\n"), std::string::npos) << rows;
  EXPECT_NE(rows.find("c_new.csv,200,0,,,,,tn,0,0,,,false\n"), std::string::npos) << rows;
  const std::string tree = readFile(json);
  EXPECT_NE(tree.find("\"settings_files\": [" + ev::jsonString(settings.string()) + "]"),
            std::string::npos);
  EXPECT_NE(tree.find("\"problem\": null, \"in_sample\": false}"), std::string::npos) << tree;
  EXPECT_NE(tree.find("\"in_sample_recordings\": 2,"), std::string::npos) << tree;
  const std::string page = readFile(html);
  EXPECT_NE(page.find("<tr><th>settings files</th><td>" + settings.string() + "</td></tr>"),
            std::string::npos);
  EXPECT_NE(page.find("<p class=\"in-sample\" id=\"in-sample\">in-sample: 2 of 3 recordings"),
            std::string::npos);

  // Settings that name no recordings: unknown, and no note.
  const auto plain = dir.write("plain.settings", "lowLevel=70\n");
  const auto unknown = runProgram("velmora-eval", {"-q", "--settings", plain.string(), "--json",
                                                   json.string(), (dir.path() / "data").string()});
  ASSERT_EQ(unknown.exitCode, 0) << unknown.err;
  EXPECT_EQ(unknown.out.find("in-sample"), std::string::npos);
  EXPECT_NE(readFile(json).find("\"in_sample_recordings\": null,"), std::string::npos);
}

}  // namespace
