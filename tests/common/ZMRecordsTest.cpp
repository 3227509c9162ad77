// The record layouts against the test kit's own archive writer, and the bounded cursor.
#include "ZMRecords.h"

#include <gtest/gtest.h>

#include <string>

#include "TestZip.h"

namespace {

using namespace zm::layout;

TEST(ZMRecords, LayoutsNameTheFieldsTheWriterPutsThere) {
  testzip::TEntrySpec e;
  e.Name = "dir/name.txt";
  e.Data = "some data";
  e.Method = 0;
  e.ExtAttr = 0x81A40000;
  const std::string zip = testzip::BuildZip({e});
  const auto* b = reinterpret_cast<const uint8_t*>(zip.data());

  EXPECT_EQ(zm::GetLE32(b), TLocalHeader::Signature);
  EXPECT_EQ(zm::GetLE16(b + TLocalHeader::NameLen), e.Name.size());
  EXPECT_EQ(zm::GetLE32(b + TLocalHeader::Crc), testzip::Crc32(e.Data));
  EXPECT_EQ(zip.substr(TLocalHeader::FixedSize, e.Name.size()), e.Name);

  const size_t end = zip.size() - TEndOfCentral::FixedSize;
  EXPECT_EQ(zm::GetLE32(b + end), TEndOfCentral::Signature);
  EXPECT_EQ(zm::GetLE16(b + end + TEndOfCentral::Entries), 1);
  const uint32_t cd = zm::GetLE32(b + end + TEndOfCentral::CentralOffset);
  EXPECT_EQ(zm::GetLE32(b + end + TEndOfCentral::CentralSize), end - cd);

  zm::TLECursor c(b + cd, end - cd);
  EXPECT_EQ(c.U32(), TCentralHeader::Signature);
  EXPECT_EQ(c.U16At(TCentralHeader::NameLen), e.Name.size());
  EXPECT_EQ(c.U32At(TCentralHeader::ExtAttr), e.ExtAttr);
  EXPECT_EQ(c.U32At(TCentralHeader::LocalOffset), 0u);
  EXPECT_EQ(c.U32At(TCentralHeader::UncompSize), e.Data.size());
  EXPECT_EQ(zip.substr(cd + TCentralHeader::FixedSize, e.Name.size()), e.Name);
}

TEST(ZMRecords, CursorReadsInOrderAndFailsWhenTheBufferIsShort) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  zm::TLECursor c(bytes, sizeof bytes);
  EXPECT_EQ(c.U16(), 0x0201);
  EXPECT_EQ(c.U32(), 0x06050403u);
  EXPECT_TRUE(c.Ok());
  EXPECT_EQ(c.Left(), 1u);
  EXPECT_EQ(c.U16(), 0);  // one byte left: no field, and the cursor stays failed
  EXPECT_FALSE(c.Ok());
  EXPECT_EQ(c.U16(), 0);
  EXPECT_EQ(c.U32At(3), 0x07060504u);
  EXPECT_EQ(c.U64At(0), 0u);  // seven bytes hold no 64-bit field

  zm::TLECursor s(bytes, sizeof bytes);
  s.Seek(8);
  EXPECT_FALSE(s.Ok());
}

}  // namespace
