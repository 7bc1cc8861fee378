#include <gtest/gtest.h>

#include "platform/linux/sway/SwayIpc.h"

namespace velmora::linuxos {
namespace {

TEST(SwayIpc, FramesComeWholeHoweverTheBytesArrive) {
  const std::string stream = encodeSwayMessage(SwayRequest::getTree, R"({"type":"root"})") +
                             encodeSwayMessage(kSwayWindowEvent, R"({"change":"move"})") +
                             encodeSwayMessage(SwayRequest::subscribe, "");
  for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::size_t{14}, stream.size()}) {
    SwayFrameReader reader;
    std::vector<SwayFrame> frames;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      reader.feed(std::string_view(stream).substr(at, chunk));
      while (auto frame = reader.next())
        frames.push_back(*frame);
    }
    ASSERT_EQ(frames.size(), 3u) << chunk;
    EXPECT_EQ(frames[0].type, 4u);
    EXPECT_EQ(frames[0].payload, R"({"type":"root"})");
    EXPECT_EQ(frames[1].type, kSwayWindowEvent);
    EXPECT_EQ(frames[2].payload, "");
    EXPECT_EQ(reader.pending(), 0u);
    EXPECT_FALSE(reader.broken());
  }
}

TEST(SwayIpc, AStreamThatIsNotIpcIsBrokenForGood) {
  SwayFrameReader wrongMagic;
  wrongMagic.feed("HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_FALSE(wrongMagic.next());
  EXPECT_TRUE(wrongMagic.broken());
  wrongMagic.feed(encodeSwayMessage(SwayRequest::getTree, "{}"));
  EXPECT_FALSE(wrongMagic.next());

  // A length past the limit is refused before anything is buffered for it.
  std::string header = encodeSwayMessage(SwayRequest::getTree, "");
  const std::uint32_t huge = SwayFrameReader::kMaxPayload + 1;
  header.replace(6, 4, reinterpret_cast<const char*>(&huge), 4);
  SwayFrameReader tooLong;
  tooLong.feed(header);
  EXPECT_FALSE(tooLong.next());
  EXPECT_TRUE(tooLong.broken());

  // Half a frame is only pending.
  SwayFrameReader half;
  const std::string frame = encodeSwayMessage(SwayRequest::getTree, R"({"type":"root","nodes":[]})");
  half.feed(frame.substr(0, frame.size() / 2));
  EXPECT_FALSE(half.next());
  EXPECT_FALSE(half.broken());
  EXPECT_EQ(half.pending(), frame.size() / 2);
}

}  // namespace
}  // namespace velmora::linuxos
