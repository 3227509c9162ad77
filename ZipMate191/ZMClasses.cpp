#include "ZMClasses.h"

#include <algorithm>
#include <cstring>

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
  FData.resize(size_t(std::max<int64_t>(newSize, 0)));
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
