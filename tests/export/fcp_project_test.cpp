#include "export/fcp_project.h"

#include "export/formats.h"

#include "core/log.h"
#include "core/process.h"
#include "tests/support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <sstream>

namespace {

using ::testing::HasSubstr;

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE xmeml><xmeml version=\"4\"><project>";
const char* kNames[4] = {"SYNCED_fcp.XML", "UNSYNCED_fcp.XML", "SYNCED_premierePro.XML",
                         "UNSYNCED_premierePro.XML"};

using testing_support::between;

// The video and audio clip items of every sequence, without Premiere's format element.
std::vector<std::pair<std::string, std::string>> sequences(const std::string& doc) {
  auto items = [](const std::string& s) {
    const size_t format = s.rfind("</format>");
    return format == std::string::npos ? s : s.substr(format + 9);
  };
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& seq : between(doc, "<sequence ", "</sequence>"))
    out.emplace_back(items(between(seq, "<media><video>", "</video>").at(0)),
                     items(between(seq, "</video><audio>", "</audio>").at(0)));
  return out;
}


std::string item(int id, const char* start, const char* end) {
  return std::string("<track><clipitem><start>") + start + "</start><end>" + end +
         "</end><file id=\"" + std::to_string(id) + "\"/></clipitem></track>";
}

TimelineMember member(const std::string& path, float seconds, float rate, double start = 0.0) {
  TimelineMember m;
  m.path = path;
  m.duration = seconds;
  m.frame_rate = rate;
  m.start = start;
  return m;
}

ProjectDocuments build(const Timeline& timeline, float fps = 25.0f, int premiere = 0) {
  std::ostringstream trace;
  ConsoleCapture quiet(trace);
  return build_documents(timeline, fps, 1920, 1080, premiere);
}

// One group of `members` 25 fps files of 10 s at starts 0, 1, 2, ... seconds.
Timeline group_of(int members) {
  Timeline t;
  t.groups.resize(1);
  for (int m = 0; m < members; ++m)
    t.groups[0].members.push_back(member("/m/v" + std::to_string(m) + ".mov", 10.0f, 25.0f, m));
  return t;
}

}  // namespace

TEST(ProjectDocuments, TwoFilesShareOneSequenceAndUnsyncedFilesKeepTheirRate) {
  Timeline in;
  in.groups = {{{member("/m/a.mov", 60.0f, 25.0f), member("/m/b.mov", 30.0f, 25.0f, 12.5)}, {}, {}}};
  in.unsynced = {member("/m/c.mov", 8.0f, 29.97f), member("/m/d.wav", 3.0f, 999.0f)};
  const ProjectDocuments docs = build(in);

  const std::string& fcp = docs.synced_fcp;
  EXPECT_EQ(fcp.rfind(kHead + "<name>Brenvik</name><children><clip>", 0), 0u) << fcp;
  const size_t a = fcp.find("<name>/m/a.mov</name><duration>1500</duration><file id=\"0\">");
  const size_t b = fcp.find("<name>/m/b.mov</name><duration>750</duration><file id=\"1\">");
  const size_t seq = fcp.find("<sequence id=\"0\"><name>0</name><duration>20000</duration>");
  EXPECT_TRUE(a < b && b < seq && seq != std::string::npos) << fcp;
  const std::string both = item(0, "0", "1500") + item(1, "312.5", "1062.5");
  using Sections = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(sequences(fcp), (Sections{{both, both}}));
  // Premiere lists its sequences before the master clips.
  EXPECT_EQ(sequences(docs.synced_pp), (Sections{{both, both}}));
  EXPECT_LT(docs.synced_pp.find("<sequence id=\"0\"><name>0</name>"),
            docs.synced_pp.find("<clip>"));

  EXPECT_THAT(docs.unsynced_fcp, HasSubstr("<children><clip><rate><timebase>29.97</timebase></rate><name>"
                                    "/m/c.mov</name><duration>239.76</duration><file id=\"4\">"));
  EXPECT_THAT(docs.unsynced_fcp, HasSubstr("<timebase>999</timebase></rate><name>/m/d.wav</name>"
                                    "<duration>2997</duration><file id=\"105\">"));
  EXPECT_THAT(docs.unsynced_pp, HasSubstr("<name>d.wav</name><media><video></video><audio><track>"
                                   "<clipitem><file id=\"105\">"));

  const std::string empty = kHead + "<name>unsynced</name><children></children></project></xmeml>";
  const ProjectDocuments all_synced = build(group_of(2));
  EXPECT_EQ(all_synced.unsynced_fcp, empty);
  EXPECT_EQ(all_synced.unsynced_pp, empty);
}

TEST(ProjectDocuments, GroupsNumberFilesByHundredsAndStartASequencePerDozen) {
  Timeline two = group_of(2);
  two.groups.push_back({{member("/m/v2.mov", 10.0f, 25.0f, 3.0), member("/m/v3.mov", 4.0f, 25.0f)}, {}, {}});
  const std::string fcp = build(two).synced_fcp;
  ASSERT_EQ(sequences(fcp).size(), 2u);
  EXPECT_THAT(fcp, HasSubstr("<sequence id=\"1\"><name>1</name>"));
  EXPECT_EQ(sequences(fcp)[1].first, item(100, "75", "325") + item(101, "0", "100"));

  for (int members : {12, 13, 30}) {
    const ProjectDocuments docs = build(group_of(members));
    for (const std::string* doc : {&docs.synced_fcp, &docs.synced_pp}) {
      const auto seqs = sequences(*doc);
      ASSERT_EQ(seqs.size(), members / 12u + 1) << members;
      for (size_t s = 0; s < seqs.size(); ++s) {
        const size_t expected = std::min<size_t>(12, members - 12 * s);
        EXPECT_EQ(between(seqs[s].first, "<track>", "</track>").size(), expected) << members << s;
        EXPECT_EQ(between(seqs[s].second, "<track>", "</track>").size(), expected) << members << s;
      }
    }
  }
  // More than 100 members would reuse the next group's ids; they must stay unique.
  Timeline big = group_of(101);
  big.groups.push_back({{member("/m/v0.mov", 10.0f, 25.0f)}, {}, {}});
  const auto clips = between(build(big).synced_fcp, "<clip>", "</clip>");
  std::set<std::string> ids;
  for (const std::string& clip : clips) ids.insert(between(clip, "<file id=\"", "\"").at(0));
  EXPECT_EQ(ids.size(), 102u);
}

TEST(ProjectDocuments, AudioOnlyMembersSitInAudioTracksOnlyAtTheSequenceRate) {
  Timeline in;
  in.groups = {{{member("/m/v.mov", 10.0f, 29.97f), member("/m/w.wav", 4.0f, 999.0f, 1.0)}, {}, {}}};
  const ProjectDocuments docs = build(in, 29.97f);
  const std::pair<std::string, std::string> expected = {
      item(0, "0", "299.7"), item(0, "0", "299.7") + item(1, "29.97", "149.85")};
  EXPECT_EQ(sequences(docs.synced_fcp).at(0), expected);
  EXPECT_EQ(sequences(docs.synced_pp).at(0), expected);
  EXPECT_THAT(docs.synced_fcp, HasSubstr("<timebase>29.97</timebase></rate><name>/m/w.wav</name>"));
}

TEST(ProjectDocuments, EveryDocumentIsWellFormedWhateverTheFileNames) {
  if (run_program({"xmllint", "--version"}) == 127) GTEST_SKIP() << "xmllint is not installed";
  testing_support::TempRunDir dir;
  const std::string folder = dir.file("Brenvik.app/SYNCED");
  const std::vector<std::string> names = {"/m/Tom & Jerry.mov",
                                          "/m/<take>.MP3",
                                          "/m/say \"hi\" 'now'.wav",
                                          "/m/a>b&c<d.Mp3",
                                          "/m/\xc4\x8d\xc4\x87\xc5\xbe \xc3\x9cn\xc3\xaf.mov",
                                          "/m/&amp;;.WAV",
                                          "/m/ctl\x01 \x1b[0m.mov",
                                          "/m/latin1\xe9.wav"};
  auto m = [&names](int k, double start) {
    return member(names[static_cast<std::size_t>(k)], 5.0f,
                  names[static_cast<std::size_t>(k)].ends_with(".mov") ? 25.0f : 999.0f, start);
  };
  Timeline in;
  in.groups = {{{m(0, 0.0), m(1, 1.5), m(2, 2.0), m(6, 3.0)}, {}, {}},
               {{m(3, 0.0), m(4, 0.25), m(7, 1.0)}, {}, {}}};
  in.unsynced = {m(5, 0.0), m(0, 0.0), m(6, 0.0), m(7, 0.0)};
  for (int premiere : {0, 1}) {
    const ProjectDocuments docs = build(in, 29.97f, premiere);
    write_documents({{kNames[0], docs.synced_fcp}, {kNames[1], docs.unsynced_fcp},
                     {kNames[2], docs.synced_pp}, {kNames[3], docs.unsynced_pp}},
                    folder);
    for (const char* name : kNames) {
      const std::string path = folder + "/" + name;
      EXPECT_EQ(run_program({"xmllint", "--noout", path}, false), 0)
          << name << " premiere " << premiere << ":\n"
          << testing_support::read_file(path);
    }
  }
}
