// The find service's wire format: requests read back as they were written,
// every damaged or hostile request is refused with a reason (never taken,
// never a crash), and answer records split the same however they arrive.
#include "search/find_service_protocol.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using quindelo::AnswerEnd;
using quindelo::AnswerReader;
using quindelo::AnswerRecord;
using quindelo::FindServiceRequest;
using quindelo::kMaxServiceText;
using quindelo::ParseFindRequest;
using quindelo::RecordType;
using quindelo::RequestParse;
using quindelo::ServiceSort;

std::string Little(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

std::string Field(int tag, const std::string& value) {
  return std::string(1, static_cast<char>(tag)) + Little(value.size(), 4) + value;
}

// A request made by hand: the header with the given version and total (by
// default the true one), then the fields as given.
std::string Raw(const std::string& fields, int version = 1, long total = -1,
                const std::string& magic = "QNFR") {
  const std::size_t size = 12 + fields.size();
  return magic + Little(static_cast<std::uint64_t>(version), 2) + Little(0, 2) +
         Little(total < 0 ? size : static_cast<std::uint64_t>(total), 4) + fields;
}

// The fields of a plain valid request (look-in, root, named, flags, sort, limit).
std::string GoodFields() {
  return Field(1, "T:") + Field(2, "/tmp/t") + Field(3, "*.c") + Field(5, Little(1, 4)) +
         Field(6, std::string(1, '\1')) + Field(7, Little(0, 4));
}

FindServiceRequest Sample() {
  FindServiceRequest r;
  r.look_in = "T:\\src;T:\\doc";
  r.drive_root = "/home/ann/t";
  r.named = "*.c;*.h";
  r.containing = "lock AND \"mutex m\"";
  return r;
}

TEST(FindServiceRequestTest, RequestsReadBackAsWritten) {
  std::vector<FindServiceRequest> requests;
  requests.push_back(Sample());
  FindServiceRequest flags = Sample();
  flags.subfolders = false;
  flags.refresh = flags.rebuild = flags.index_only = flags.native = flags.descending = true;
  flags.containing.clear();
  requests.push_back(flags);
  for (ServiceSort sort : {ServiceSort::kName, ServiceSort::kType, ServiceSort::kSize,
                           ServiceSort::kDate, ServiceSort::kNone}) {
    FindServiceRequest r = Sample();
    r.sort = sort;
    r.limit = sort == ServiceSort::kNone ? INT_MAX : 7;
    requests.push_back(r);
  }
  FindServiceRequest longest = Sample();
  longest.look_in = "T:" + std::string(kMaxServiceText - 2, 'l');
  longest.drive_root = std::string(kMaxServiceText, 'r');
  longest.named = std::string(kMaxServiceText, 'n');
  longest.containing = std::string(kMaxServiceText, 'c');
  requests.push_back(longest);
  FindServiceRequest utf8 = Sample();
  utf8.named = "r\xC3\xA9sum\xC3\xA9*";
  requests.push_back(utf8);

  for (const FindServiceRequest& r : requests) {
    const std::string bytes = quindelo::EncodeFindRequest(r);
    FindServiceRequest back;
    std::string error = "left over";
    ASSERT_EQ(ParseFindRequest(bytes, &back, &error), RequestParse::kComplete) << error;
    EXPECT_EQ(back, r);
    EXPECT_TRUE(error.empty());
    EXPECT_LE(bytes.size(), quindelo::kMaxServiceRequest);
  }
}

// A request cut short anywhere waits for more (and says what is missing);
// one byte past it is refused. The server answers a peer that stops early
// with that text, so no prefix may read as a request.
TEST(FindServiceRequestTest, EveryCutIsIncompleteAndAnExtraByteIsRefused) {
  const std::string whole = quindelo::EncodeFindRequest(Sample());
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    FindServiceRequest back;
    std::string error;
    EXPECT_EQ(ParseFindRequest(whole.substr(0, cut), &back, &error), RequestParse::kIncomplete)
        << "cut at " << cut;
    EXPECT_NE(error.find("cut short"), std::string::npos) << "cut at " << cut;
    EXPECT_EQ(back, FindServiceRequest()) << "cut at " << cut;
  }
  std::string error;
  EXPECT_EQ(ParseFindRequest(whole + 'x', nullptr, &error), RequestParse::kRefused);
  EXPECT_FALSE(error.empty());
}

TEST(FindServiceRequestTest, HostileRequestsAreRefusedWithAReason) {
  const std::string too_long(kMaxServiceText + 1, 'x');
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"wrong magic", Raw(GoodFields(), 1, -1, "QNFX")},
      {"wrong magic at once", "X"},
      {"another version", Raw(GoodFields(), 2)},
      {"version zero", Raw(GoodFields(), 0)},
      {"reserved bytes", "QNFR" + Little(1, 2) + Little(1, 2) + Little(12, 4)},
      {"total below the header", Raw("", 1, 11)},
      {"total past the bound", Raw(GoodFields(), 1, 1L << 31)},
      {"total past the bound, header only", Raw("", 1, 0xFFFFFFFF)},
      {"total shorter than the fields", Raw(GoodFields(), 1, 12 + 7)},
      {"field header past the total", Raw(GoodFields() + "\x01\x00", 1, -1)},
      {"field length past the end", Raw(Field(1, "T:").substr(0, 1) + Little(100, 4) + "T:")},
      {"field length past every bound", Raw("\x03" + Little(0xFFFFFFFF, 4))},
      {"unknown field", Raw(GoodFields() + Field(9, "x"))},
      {"field zero", Raw(Field(0, "") + GoodFields())},
      {"field twice", Raw(GoodFields() + Field(3, "*.h"))},
      {"flags of three bytes", Raw(Field(1, "T:") + Field(3, "x") + Field(5, Little(1, 3)))},
      {"unknown flag", Raw(Field(1, "T:") + Field(3, "x") + Field(5, Little(1u << 20, 4)))},
      {"sort key past the last", Raw(Field(1, "T:") + Field(3, "x") + Field(6, "\x06"))},
      {"sort of two bytes", Raw(Field(1, "T:") + Field(3, "x") + Field(6, "\x01\x01"))},
      {"limit past INT_MAX", Raw(Field(1, "T:") + Field(3, "x") + Field(7, Little(1u << 31, 4)))},
      {"named text too long", Raw(Field(1, "T:") + Field(3, too_long))},
      {"look-in text too long", Raw(Field(1, too_long) + Field(3, "x"))},
      {"containing text too long", Raw(Field(1, "T:") + Field(3, "x") + Field(4, too_long))},
      {"NUL in the named text", Raw(Field(1, "T:") + Field(3, std::string("a\0b", 3)))},
      {"NUL in the root", Raw(Field(1, "T:") + Field(2, std::string("/\0", 2)) + Field(3, "x"))},
      {"no named text", Raw(Field(1, "T:"))},
      {"empty named text", Raw(Field(1, "T:") + Field(3, ""))},
      {"no look-in text", Raw(Field(3, "x"))},
      {"no fields", Raw("")},
  };
  for (const Case& c : cases) {
    FindServiceRequest back;
    std::string error;
    EXPECT_EQ(ParseFindRequest(c.bytes, &back, &error), RequestParse::kRefused) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_EQ(back, FindServiceRequest()) << c.what;
  }
  // The good fields themselves are a request: the refusals above are theirs.
  EXPECT_EQ(ParseFindRequest(Raw(GoodFields()), nullptr, nullptr), RequestParse::kComplete);
}

// The bytes of an answer, record by record.
std::string SampleAnswer(std::vector<AnswerRecord>* records) {
  std::string bytes;
  auto add = [&](RecordType type, const std::string& text) {
    quindelo::AppendRecord(type, text, &bytes);
    AnswerRecord r;
    r.type = type;
    r.text = text;
    records->push_back(r);
  };
  add(RecordType::kAccepted, "");
  add(RecordType::kPath, "T:\\src\\main.c");
  add(RecordType::kPath, std::string(quindelo::kMaxRecordPayload, 'p'));
  add(RecordType::kMessage, "Drive T: holds more folders than its index can keep.");
  add(RecordType::kError, "");
  AnswerEnd end;
  end.count = 2;
  end.complete = false;
  end.exit_status = quindelo::kFindExitFound;
  end.message = "Stopped after maximum of 2 files found.";
  quindelo::AppendEndRecord(end, &bytes);
  AnswerRecord last;
  last.type = RecordType::kEnd;
  last.end = end;
  records->push_back(last);
  return bytes;
}

TEST(AnswerReaderTest, RecordsSplitTheSameInAnyPieces) {
  std::vector<AnswerRecord> expected;
  const std::string bytes = SampleAnswer(&expected);
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, bytes.size()}) {
    AnswerReader reader;
    std::vector<AnswerRecord> got;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      reader.Feed(std::string_view(bytes).substr(at, piece));
      AnswerRecord r;
      AnswerReader::Next next;
      while ((next = reader.Take(&r)) == AnswerReader::Next::kRecord) got.push_back(r);
      ASSERT_EQ(next, AnswerReader::Next::kNeedMore) << "piece " << piece << " at " << at;
    }
    ASSERT_EQ(got.size(), expected.size()) << "piece " << piece;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].type, expected[i].type) << i;
      EXPECT_EQ(got[i].text, expected[i].text) << i;
      EXPECT_EQ(got[i].end, expected[i].end) << i;
    }
    EXPECT_EQ(reader.pending(), 0u);
  }
}

TEST(AnswerReaderTest, MalformedRecordsBreakTheAnswerForGood) {
  const std::string good_path = std::string(1, '\x02') + Little(1, 4) + "p";
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"type zero", std::string(1, '\0') + Little(0, 4)},
      {"unknown type", std::string(1, '\x09') + Little(0, 4)},
      {"path past its bound", "\x02" + Little(quindelo::kMaxRecordPayload + 1, 4)},
      {"message past its bound", "\x03" + Little(kMaxServiceText + 1, 4)},
      {"accepted with a payload", "\x01" + Little(1, 4) + "x"},
      {"end too short", "\x05" + Little(6, 4) + std::string(6, '\0')},
      {"end with exit status 3", "\x05" + Little(7, 4) + Little(0, 4) + "\x01\x03\x01"},
      {"end with a flag of 2",
       "\x05" + Little(7, 4) + Little(0, 4) + std::string("\x02\x00\x01", 3)},
      {"huge length", "\x02" + Little(0xFFFFFFFF, 4)},
  };
  for (const Case& c : cases) {
    AnswerReader reader;
    reader.Feed(c.bytes);
    AnswerRecord r;
    EXPECT_EQ(reader.Take(&r), AnswerReader::Next::kBroken) << c.what;
    reader.Feed(good_path);
    EXPECT_EQ(reader.Take(&r), AnswerReader::Next::kBroken) << c.what;
  }
  AnswerReader reader;
  reader.Feed(good_path);
  AnswerRecord r;
  EXPECT_EQ(reader.Take(&r), AnswerReader::Next::kRecord);
  EXPECT_EQ(r.text, "p");
}

TEST(AnswerReaderTest, OverlongTextsAreCutWhenWritten) {
  std::string bytes;
  quindelo::AppendRecord(RecordType::kMessage, std::string(kMaxServiceText + 50, 'm'), &bytes);
  AnswerEnd end;
  end.message = std::string(kMaxServiceText + 50, 'e');
  quindelo::AppendEndRecord(end, &bytes);
  AnswerReader reader;
  reader.Feed(bytes);
  AnswerRecord r;
  ASSERT_EQ(reader.Take(&r), AnswerReader::Next::kRecord);
  EXPECT_EQ(r.text.size(), kMaxServiceText);
  ASSERT_EQ(reader.Take(&r), AnswerReader::Next::kRecord);
  EXPECT_EQ(r.end.message.size(), kMaxServiceText);
}

}  // namespace
