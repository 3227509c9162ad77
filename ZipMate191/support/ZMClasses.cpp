#include "ZMClasses.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "PlatFile.h"

static_assert(TStream::soBeginning == plat::soBeginning && TStream::soCurrent == plat::soCurrent &&
              TStream::soEnd == plat::soEnd);
static_assert(std::is_same_v<plat::THandle, intptr_t>);

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::Size() {
  int64_t pos = Seek(0, plat::soCurrent);
  int64_t end = Seek(0, plat::soEnd);
  Seek(pos, plat::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buf(size_t(std::min<int64_t>(count, 65536)) + 1);
  int64_t done = 0;
  while (done < count) {
    int n = int(std::min<int64_t>(count - done, int64_t(buf.size())));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    done += n;
  }
  return done;
}

int TMemoryStream::Read(void* buffer, int count) {
  if (count <= 0 || FPos >= int64_t(FData.size())) return 0;
  int n = int(std::min<int64_t>(count, int64_t(FData.size()) - FPos));
  std::memcpy(buffer, FData.data() + FPos, size_t(n));
  FPos += n;
  return n;
}

int TMemoryStream::Write(const void* buffer, int count) {
  if (count <= 0) return 0;
  size_t end = size_t(FPos) + size_t(count);
  if (end > FData.size()) FData.resize(end);
  std::memcpy(FData.data() + FPos, buffer, size_t(count));
  FPos = int64_t(end);
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  int64_t base = origin == plat::soCurrent ? FPos : origin == plat::soEnd ? int64_t(FData.size()) : 0;
  if (base + offset < 0) return -1;
  FPos = base + offset;
  return FPos;
}

void TMemoryStream::SetSize(int64_t newSize) {
  newSize = std::max<int64_t>(newSize, 0);  // a negative size is an empty stream
  FData.resize(size_t(newSize));
  if (FPos > newSize) FPos = newSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPos = 0;
}

void TMemoryStream::LoadFromBytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  FData.assign(p, p + size);
  FPos = 0;
}

int TReadOnlyMemoryStream::Read(void* buffer, int count) {
  if (count <= 0 || FPos >= FSize) return 0;
  int n = int(std::min<int64_t>(count, FSize - FPos));
  std::memcpy(buffer, FData + FPos, size_t(n));
  FPos += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, int origin) {
  int64_t base = origin == plat::soCurrent ? FPos : origin == plat::soEnd ? FSize : 0;
  if (base + offset < 0) return -1;
  FPos = base + offset;
  return FPos;
}

int THandleStream::Read(void* buffer, int count) {
  int n = plat::FileRead(FHandle, buffer, count);
  return n < 0 ? 0 : n;
}

int THandleStream::Write(const void* buffer, int count) {
  int n = plat::FileWrite(FHandle, buffer, count);
  return n < 0 ? 0 : n;
}

int64_t THandleStream::Seek(int64_t offset, int origin) { return plat::FileSeek(FHandle, offset, origin); }

void THandleStream::SetSize(int64_t newSize) {
  int64_t pos = Position();
  if (Seek(newSize, plat::soBeginning) < 0 || !plat::FileSetEnd(FHandle))
    throw EStreamError("Stream size cannot be changed");
  if (pos < newSize) Seek(pos, plat::soBeginning);
}

TFileStream::TFileStream(const std::string& fileName, uint32_t mode)
    : THandleStream(mode == fmCreate ? plat::FileCreate(fileName) : plat::FileOpen(fileName, mode)),
      FFileName(fileName) {
  if (FHandle == plat::kInvalidHandle)
    throw EStreamError((mode == fmCreate ? "Cannot create file \"" : "Cannot open file \"") + fileName +
                       "\"");
}

TFileStream::~TFileStream() {
  if (FHandle != plat::kInvalidHandle) plat::FileClose(FHandle);
}

// ---- Format ----

namespace {

std::string Pad(std::string s, bool left, int width) {
  if (width > 0 && int(s.size()) < width) {
    std::string fill(size_t(width) - s.size(), ' ');
    s = left ? s + fill : fill + s;
  }
  return s;
}

std::string Hex(uint64_t v, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), digits[v & 15]);
    v >>= 4;
  } while (v);
  return s;
}

}  // namespace

std::string Format(const std::string& fmt, std::initializer_list<TFmtArg> args) {
  return Format(fmt, std::vector<TFmtArg>(args));
}

std::string Format(const std::string& fmt, const std::vector<TFmtArg>& args) {
  std::string out;
  size_t next = 0;
  size_t i = 0;
  while (i < fmt.size()) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    size_t start = i++;
    if (i < fmt.size() && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    bool left = false;
    if (i < fmt.size() && fmt[i] == '-') {
      left = true;
      ++i;
    }
    size_t used = next;
    bool ok = true;
    auto number = [&](int& value) {
      if (i < fmt.size() && fmt[i] == '*') {
        ++i;
        if (used < args.size() && args[used].Kind == TFmtArg::fkInt)
          value = int(std::clamp<int64_t>(args[used++].Int, -1, 4096));
        else
          ok = false;
        return;
      }
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        value = std::min(value * 10 + (fmt[i] - '0'), 4096);
        ++i;
      }
    };
    int width = 0, prec = -1;
    number(width);
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      prec = 0;
      number(prec);
    }
    char conv = i < fmt.size() ? fmt[i] : '\0';
    std::string piece;
    const TFmtArg* a = used < args.size() ? &args[used] : nullptr;
    switch (conv) {
      case 'd':
        ok = ok && a && a->Kind == TFmtArg::fkInt;
        if (ok) piece = std::to_string(a->Int);
        break;
      case 'u':
        ok = ok && a && a->Kind == TFmtArg::fkInt;
        if (ok) piece = std::to_string(uint32_t(a->Int));
        break;
      case 'x':
      case 'X':
        ok = ok && a && a->Kind == TFmtArg::fkInt;
        if (ok) piece = Hex(a->Int < 0 ? uint32_t(a->Int) : uint64_t(a->Int), conv == 'X');
        break;
      case 's':
        ok = ok && a && a->Kind == TFmtArg::fkStr;
        if (ok) piece = prec >= 0 ? a->Str.substr(0, size_t(prec)) : a->Str;
        break;
      case 'p':
        ok = ok && a && a->Kind == TFmtArg::fkPtr;
        if (ok) {
          // An address in full width with leading zeros.
          piece = Hex(uint64_t(reinterpret_cast<uintptr_t>(a->Ptr)), true);
          if (piece.size() < 2 * sizeof(void*)) piece.insert(0, 2 * sizeof(void*) - piece.size(), '0');
        }
        break;
      default: ok = false;
    }
    if (!ok) {
      // Copy the placeholder unchanged and leave the arguments where they were.
      size_t end = conv ? i + 1 : i;
      out.append(fmt, start, end - start);
      i = end;
      continue;
    }
    if ((conv == 'd' || conv == 'u' || conv == 'x' || conv == 'X') && prec > int(piece.size())) {
      bool neg = !piece.empty() && piece[0] == '-';
      std::string digits = neg ? piece.substr(1) : piece;
      if (prec > int(digits.size())) digits.insert(0, size_t(prec) - digits.size(), '0');
      piece = neg ? "-" + digits : digits;
    }
    out += Pad(piece, left, width);
    next = used + 1;
    ++i;
  }
  return out;
}

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    delete c;
  }
  if (FOwner) {
    auto& v = FOwner->FComponents;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
}

void TComponent::SetDesigning(bool on) {
  if (on)
    FComponentState |= csDesigning;
  else
    FComponentState &= ~uint32_t(csDesigning);
}

void TComponent::Loaded() { FComponentState &= ~uint32_t(csLoading); }

// ---- TStrings ----

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (Strings(i) == s) return i;
  return -1;
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this) return;
  Clear();
  for (int i = 0; i < source.Count(); ++i) AddObject(source.Strings(i), source.Objects(i));
}

std::string TStrings::Text() const {
  std::string t;
  for (int i = 0; i < Count(); ++i) t += Strings(i) + "\n";
  return t;
}

bool TStrings::Equals(const TStrings& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Strings(i) != other.Strings(i)) return false;
  return true;
}

TStringList::TStringList(std::initializer_list<std::string> lines) {
  for (const auto& l : lines) Add(l);
}

void TStringList::Check(int i) const {
  if (i < 0 || i >= Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
}

const std::string& TStringList::Strings(int i) const {
  Check(i);
  return FItems[size_t(i)].Str;
}

TObject* TStringList::Objects(int i) const {
  Check(i);
  return FItems[size_t(i)].Obj;
}

void TStringList::SetStrings(int i, const std::string& s) {
  Check(i);
  FItems[size_t(i)].Str = s;
}

int TStringList::AddObject(const std::string& s, TObject* obj) {
  FItems.push_back({s, obj});
  return Count() - 1;
}

void TStringList::Delete(int i) {
  Check(i);
  FItems.erase(FItems.begin() + i);
}
