// The "unicode" protocol through the program's protocol registry and a custom I/O context.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "media/ff_api.h"
#include "media/protocol_registry.h"
#include "media/unicode_protocol.h"
#include "media/unicode_url.h"
#include "support/media_env.h"
#include "support/temp_dir.h"

QV_MEDIA_TEST_ENV;

namespace qv {
namespace {

class UnicodeProtocol : public ::testing::Test {
 protected:
  void SetUp() override { Dir = Temp.Path; }
  test::TTempDir Temp{"qv_unicode"};
  std::string Dir;
};

TEST_F(UnicodeProtocol, RegistersOnce) {
  RegisterUnicodeProtocol();
  RegisterUnicodeProtocol();
  EXPECT_EQ(FindProtocol("unicode"), qv::UnicodeProtocol());
  EXPECT_EQ(FindProtocolForUrl("unicode:utf8:/x"), qv::UnicodeProtocol());
  EXPECT_EQ(FindProtocolForUrl("Unicode:utf8:/x"), nullptr);
  EXPECT_EQ(FindProtocolForUrl("/tmp/a.avi"), nullptr);
  static const TProtocol other = {"unicode", nullptr, nullptr, nullptr, nullptr, nullptr};
  EXPECT_FALSE(RegisterProtocol(&other));
  EXPECT_EQ(FindProtocol("unicode"), qv::UnicodeProtocol());
}

TEST_F(UnicodeProtocol, WritesReadsSeeksThroughAnIoContext) {
  RegisterUnicodeProtocol();
  const std::string name = Dir + "/d\xc3\xa9j\xc3\xa0 \xe4\xb8\xad.bin";
  const std::string url = EncodeUnicodeURL(name);
  AVIOContext* pb = nullptr;
  ASSERT_EQ(OpenProtocolIO(&pb, url, AVIO_FLAG_WRITE), 0);
  ASSERT_TRUE(IsProtocolIO(pb));
  for (int i = 0; i < 100000; ++i) ff::avio_w8(pb, i & 0xFF);
  CloseProtocolIO(&pb);
  EXPECT_EQ(pb, nullptr);
  ASSERT_EQ(std::filesystem::file_size(name), 100000u);

  ASSERT_EQ(OpenProtocolIO(&pb, url, AVIO_FLAG_READ), 0);
  EXPECT_EQ(ff::avio_size(pb), 100000);
  EXPECT_EQ(ff::avio_seek(pb, 70000, SEEK_SET), 70000);
  unsigned char buf[16];
  ASSERT_EQ(ff::avio_read(pb, buf, 16), 16);
  EXPECT_EQ(buf[0], 70000 & 0xFF);
  EXPECT_EQ(ff::avio_seek(pb, 99990, SEEK_SET), 99990);
  EXPECT_EQ(ff::avio_read(pb, buf, 16), 10);
  EXPECT_EQ(ff::avio_read(pb, buf, 16), AVERROR_EOF);
  CloseProtocolIO(&pb);

  // Read-write opens truncate an existing file.
  ASSERT_EQ(OpenProtocolIO(&pb, url, AVIO_FLAG_READ_WRITE), 0);
  CloseProtocolIO(&pb);
  EXPECT_EQ(std::filesystem::file_size(name), 0u);

  EXPECT_EQ(OpenProtocolIO(&pb, EncodeUnicodeURL(Dir + "/missing\xc3\xbc"), AVIO_FLAG_READ), AVERROR(ENOENT));
  EXPECT_EQ(pb, nullptr);
  EXPECT_EQ(OpenProtocolIO(&pb, "nosuchproto:x", AVIO_FLAG_READ), AVERROR(ENOENT));
}

TEST_F(UnicodeProtocol, SizeOfAFileBeyondFourGiB) {
  const std::string name = Dir + "/gro\xc3\x9f.bin";
  {
    std::ofstream f(name, std::ios::binary);
  }
  const std::uintmax_t size = (std::uintmax_t(5) << 30) + 123;  // sparse: no disk space used
  std::filesystem::resize_file(name, size);
  TProtocolContext h;
  h.prot = qv::UnicodeProtocol();
  ASSERT_EQ(h.prot->url_open(&h, EncodeUnicodeURL(name).c_str(), kUrlRdOnly), 0);
  EXPECT_EQ(h.prot->url_seek(&h, 0, AVSEEK_SIZE), std::int64_t(size));
  EXPECT_EQ(h.prot->url_seek(&h, -3, SEEK_END), std::int64_t(size) - 3);
  EXPECT_EQ(h.prot->url_seek(&h, -1, SEEK_SET), -1);
  h.prot->url_close(&h);
}

}  // namespace
}  // namespace qv
