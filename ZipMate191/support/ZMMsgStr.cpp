// Message texts and languages.
#include "ZMMsgStr.h"

#include <cstdio>
#include <cstring>

#include "PlatLocale.h"
#include "ZMDefMsgs.h"
#include "ZMInflt.h"
#include "ZMUTF8.h"
#include "ZMWFuncs.h"

namespace {

struct TMsgState {
  TZMLangBlok Current;  // selected table; empty while English is in effect
  int CurrentId = 0;
  std::string CurrentCode;
  TZMLangBlok English;  // decompressed built-in table; empty until needed
  bool Loading = false;
  TZMLoadStrEvent Hook;
  TZMLangSource Source;
};

TMsgState& State() {
  static TMsgState state;
  return state;
}

// Sets the loading flag for its lifetime.
class TLoadingGuard {
 public:
  TLoadingGuard() { State().Loading = true; }
  ~TLoadingGuard() { State().Loading = false; }
  TLoadingGuard(const TLoadingGuard&) = delete;
  TLoadingGuard& operator=(const TLoadingGuard&) = delete;
};

// Collects decoded bytes in memory and refuses to grow to a table size that would
// be rejected anyway, so a damaged block cannot make us allocate without bound.
class TTableSink : public TStream {
 public:
  int Read(void*, int) override { return 0; }
  int Write(const void* buffer, int count) override {
    if (count <= 0) return 0;
    if (FData.size() + size_t(count) >= ZMMaxLangTable) return 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    FData.insert(FData.end(), p, p + count);
    return count;
  }
  int64_t Seek(int64_t offset, int origin) override {
    // Only position queries make sense on this sink.
    if (offset == 0 && (origin == plat::soCurrent || origin == plat::soEnd)) return int64_t(FData.size());
    return -1;
  }
  TZMLangBlok& Data() { return FData; }

 private:
  TZMLangBlok FData;
};

struct TBlockHead {
  int64_t Pos = 0;
  int Id = 0;
  int DataSize = 0;  // bytes after the 8-byte header
  std::string Code;
};

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

bool ReadHead(TStream& s, int64_t pos, TBlockHead& h) {
  uint8_t b[8];
  if (s.Seek(pos, plat::soBeginning) != pos || s.Read(b, 8) != 8) return false;
  h.Pos = pos;
  h.Id = Word(b);
  h.DataSize = Word(b + 2);
  h.Code.clear();
  for (int i = 4; i < 8 && b[i] != 0; ++i) h.Code += char(b[i]);
  return true;
}

// Calls visit(head) for each block whose header starts more than minTail - 1 bytes
// before the end of the stream, until visit returns true. Returns that block's head.
template <class Visit>
bool WalkBlocks(TStream& s, int64_t minTail, Visit visit, TBlockHead& found) {
  const int64_t size = s.Size();
  int64_t pos = 0;
  TBlockHead h;
  while (size - pos >= minTail) {
    if (!ReadHead(s, pos, h)) return false;
    if (visit(h)) {
      found = h;
      return true;
    }
    pos += 8 + h.DataSize;
  }
  return false;
}

// Block walks for a selection go on while a block starts more than 8 bytes before
// the end; the walk for LanguageInfo while one starts at least 28 bytes before it.
constexpr int64_t kSelectTail = 9;
constexpr int64_t kInfoTail = 28;

std::unique_ptr<TStream> OpenLanguageSource() {
  try {
    TMsgState& st = State();
    if (st.Source) return st.Source();
    return OpenResourceStream(ZMLanguageResourceName, ZMLanguageResourceType);
  } catch (...) {
    return nullptr;
  }
}

bool FindBlockById(TStream& s, int wanted, TBlockHead& found) {
  const int primary = wanted & 0x3FF;
  bool haveSamePrimary = false;
  TBlockHead samePrimary;
  const bool hit = WalkBlocks(
      s, kSelectTail,
      [&](const TBlockHead& h) {
        if (!haveSamePrimary && (h.Id & 0x3FF) == primary) {
          haveSamePrimary = true;
          samePrimary = h;
        }
        return h.Id == wanted || (wanted < 1024 && wanted == (h.Id & 0x3FF));
      },
      found);
  if (hit) return true;
  if (haveSamePrimary) found = samePrimary;
  return haveSamePrimary;
}

bool FindBlockByCode(TStream& s, const std::string& name, TBlockHead& found) {
  char want[4] = {0, 0, 0, 0};
  int valid = 0;
  for (size_t i = 0; i < 4 && i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || (i >= 2 && c >= '0' && c <= '9')) {
      want[i] = c;
      ++valid;
    }
  }
  if (valid < 2) return false;
  int bestPlaces = 0;
  TBlockHead best;
  const bool hit = WalkBlocks(
      s, kSelectTail,
      [&](const TBlockHead& h) {
        char code[4] = {0, 0, 0, 0};
        std::memcpy(code, h.Code.data(), h.Code.size());
        if (code[0] != want[0] || code[1] != want[1]) return false;
        int places = 2;
        bool all = true;
        if (valid > 2) {
          if (code[2] == want[2]) {
            ++places;
            if (valid > 3) {
              if (code[3] == want[3])
                ++places;
              else
                all = false;
            }
          } else {
            all = false;
          }
        }
        if (places > bestPlaces) {
          bestPlaces = places;
          best = h;
        }
        return all;
      },
      found);
  if (hit) return true;
  if (bestPlaces > 0) found = best;
  return bestPlaces > 0;
}

// Makes the block at h the current table; false when it does not decompress.
bool UseBlock(TStream& s, const TBlockHead& h) {
  if (s.Seek(h.Pos, plat::soBeginning) != h.Pos) return false;
  TZMLangBlok table;
  const int id = DecompressLanguageBlock(s, table);
  if (id == 0) return false;
  TMsgState& st = State();
  st.Current = std::move(table);
  st.CurrentId = id;
  st.CurrentCode = h.Code;
  return true;
}

void DropCurrent() {
  TMsgState& st = State();
  st.Current.clear();
  st.Current.shrink_to_fit();
  st.CurrentId = 0;
  st.CurrentCode.clear();
}

const TZMLangBlok& EnglishTable() {
  TMsgState& st = State();
  if (st.English.empty()) {
    const auto block = DefaultMessageBlock();
    TReadOnlyMemoryStream s(block.data(), block.size());
    TZMLangBlok table;
    if (DecompressLanguageBlock(s, table) == ZMEnglishLangId) st.English = std::move(table);
  }
  return st.English;
}

}  // namespace

int DecompressLanguageBlock(TStream& src, TZMLangBlok& table) {
  table.clear();
  try {
    const int64_t start = src.Position();
    uint8_t head[12];
    if (start < 0 || src.Read(head, 12) != 12) return 0;
    const int id = Word(head);
    const int dataSize = Word(head + 2);
    uint32_t crc = uint32_t(Word(head + 8)) | (uint32_t(Word(head + 10)) << 16);
    // The whole block must be there: header, CRC and the compressed table.
    if (dataSize < 4 || src.Size() < start + 8 + dataSize) return 0;
    TTableSink sink;
    if (InflateStream(&sink, &src, 8, crc, int64_t(dataSize - 4)) != 0) return 0;
    if (sink.Data().size() >= ZMMaxLangTable) return 0;
    table = std::move(sink.Data());
    return id;
  } catch (...) {
    table.clear();
    return 0;
  }
}

std::string LoadMessage(int number) {
  TMsgState& st = State();
  const int n = number & ZMMsgNumberMask;
  std::string text;
  if (!st.Current.empty()) FindMessageInTable(st.Current, n, text);
  if (text.empty()) FindMessageInTable(EnglishTable(), n, text);
  if (st.Hook) {
    std::string answer = text;
    st.Hook(n, answer);
    if (!answer.empty()) text = std::move(answer);
  }
  if (text.empty()) text = "Resource missing for " + std::to_string(number);
  return text;
}

std::string SelectLanguageByName(const std::string& name) {
  if (name.empty()) return {};
  // The leading word: letters, digits and '_', upper-cased; not starting with a digit.
  size_t i = 0;
  while (i < name.size() && name[i] == ' ') ++i;
  std::string word;
  for (; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) break;
    if (word.empty() && c >= '0' && c <= '9') break;
    word += c;
  }
  TMsgState& st = State();
  if (word.size() >= 2 && word != "US") {
    TLoadingGuard loading;
    DropCurrent();
    std::unique_ptr<TStream> res = OpenLanguageSource();
    TBlockHead h;
    if (res && FindBlockByCode(*res, word, h) && UseBlock(*res, h)) return st.CurrentCode;
    return {};
  }
  if (word == "US") {
    // Changes nothing: reports the language that stays in effect.
    return st.Current.empty() ? std::string("US") : st.CurrentCode;
  }
  if (name == "*") {
    SelectLanguageById(plat::UserDefaultLangId());
    return st.Current.empty() ? std::string("US") : st.CurrentCode;
  }
  return {};
}

int SelectLanguageById(int id) {
  TMsgState& st = State();
  if (st.Loading) return CurrentLanguageId();
  TLoadingGuard loading;
  DropCurrent();
  if (id != ZMEnglishLangId && id > 0 && id <= 0xFFFF) {
    std::unique_ptr<TStream> res = OpenLanguageSource();
    TBlockHead h;
    if (res && FindBlockById(*res, id, h) && UseBlock(*res, h)) return st.CurrentId;
  }
  return ZMEnglishLangId;
}

int CurrentLanguageId() {
  const TMsgState& st = State();
  return st.Current.empty() ? ZMEnglishLangId : st.CurrentId;
}

std::string CurrentLanguageCode() { return State().CurrentCode; }

std::string LanguageInfo(int index, int kind) {
  const TMsgState& st = State();
  std::string text = "US: default";
  int id = ZMEnglishLangId;
  if (index == 0 && !st.Current.empty()) {
    text = st.CurrentCode;
    id = st.CurrentId;
  } else if (index > 0) {
    text = "><";
    id = index & 0xFF;
    if (std::unique_ptr<TStream> res = OpenLanguageSource()) {
      int seen = 0;
      TBlockHead h;
      if (WalkBlocks(
              *res, kInfoTail, [&](const TBlockHead&) { return ++seen == index; }, h)) {
        text = h.Code;
        id = h.Id;
      }
    }
  }
  if (text == "><" || kind == -1) return text;
  if (kind == 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%04X", unsigned(id));
    return buf;
  }
  std::u16string info = plat::LocaleInfo(uint16_t(id), kind);
  if (info.size() > 1023) info.resize(1023);
  return AnsiFromWide(info);
}

void SetTextHook(TZMLoadStrEvent hook) { State().Hook = std::move(hook); }

const TZMLoadStrEvent& GetTextHook() { return State().Hook; }

bool LanguageLoading() { return State().Loading; }

TZMLangSource SetLanguageSource(TZMLangSource source) {
  TZMLangSource previous = std::move(State().Source);
  State().Source = std::move(source);
  return previous;
}

void ReleaseMessageTables() {
  DropCurrent();
  TMsgState& st = State();
  st.English.clear();
  st.English.shrink_to_fit();
}
