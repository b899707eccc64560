#include "support/reference_modification.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"

namespace ril::test {

namespace {

// Where the run meets a sample: its block, the range within the block, the
// channel, the frame.
using Order = std::tuple<std::int64_t, std::size_t, int, std::int64_t>;

std::vector<FrameRange> rangesWithin(const std::optional<std::vector<FrameRange>>& ranges,
                                     std::int64_t frames) {
  if (!ranges) return {FrameRange{0, frames}};
  std::vector<FrameRange> within;
  for (const FrameRange& r : *ranges) {
    const std::int64_t end = r.count > frames - r.first ? frames : r.first + r.count;
    if (r.first < frames && end > r.first) within.push_back({r.first, end - r.first});
  }
  return within;
}

}  // namespace

std::int64_t framesPerBlock(int channels, int bits) {
  return (bits == 8 ? 1048576 : 524288) / channels;
}

Expected expectedOutput(const Bytes& data, int channels, int bits, double factor, bool deemphasis,
                        const std::optional<std::vector<FrameRange>>& ranges) {
  const int width = bits == 8 ? 1 : 2;
  const std::int64_t frames = static_cast<std::int64_t>(data.size()) / (width * channels);
  const std::int64_t perBlock = std::min(framesPerBlock(channels, bits), frames);
  const std::int64_t lastBlock = perBlock > 0 ? frames / perBlock - 1 : 0;
  auto blockOf = [&](std::int64_t i) { return std::min(i / perBlock, lastBlock); };
  const std::int64_t high = bits == 8 ? 255 : 32767, low = bits == 8 ? 0 : -32768;

  Expected out;
  out.samples = Bytes(data.begin(), data.begin() + frames * width * channels);
  std::vector<std::pair<Order, std::string>> clips;
  std::optional<std::pair<Order, std::int64_t>> firstOverflow;
  const std::vector<FrameRange> within = rangesWithin(ranges, frames);
  for (std::size_t range = 0; range < within.size(); ++range) {
    for (int c = 0; c < channels; ++c) {
      double prevIn = 0, prevOut = 0;  // fresh at the range's first frame
      for (std::int64_t i = within[range].first; i < within[range].end(); ++i) {
        const auto at = static_cast<std::size_t>((i * channels + c) * width);
        const double v = bits == 8 ? data[at] - 128.0
                                   : static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
        const Order order{blockOf(i), range, c, i};
        std::int64_t r;
        if (!deemphasis) {
          r = bits == 8 ? static_cast<std::int64_t>(std::trunc(v * factor + 128.5))
                        : static_cast<std::int64_t>(std::floor(v * factor + 0.5));
          if (r < low || r > high) {
            if (!firstOverflow || order < firstOverflow->first) firstOverflow = {order, r};
            r = 0;
          }
        } else {
          const double x = v * factor;
          const double y = (15.5 * prevIn + (-2.75) * x + 20.75 * prevOut) / 33.5;
          prevIn = x;
          prevOut = y;
          r = static_cast<std::int64_t>(std::floor(y + (bits == 8 ? 128.5 : 0.5)));
          if (r > high || r < low) {
            const std::int64_t limit = r > high ? high : low;
            const auto shown = [&](std::int64_t value) { return bits == 8 ? value - 128 : value; };
            out.clippedChannels |= 1u << c;
            clips.emplace_back(order, "Error at sample " + std::to_string(i) +
                                          "! Calculated value of " + std::to_string(shown(r)) +
                                          " limited to " + std::to_string(shown(limit)) + "!");
            r = limit;
          }
        }
        out.samples[at] = static_cast<unsigned char>(r & 0xFF);
        if (width == 2) out.samples[at + 1] = static_cast<unsigned char>((r >> 8) & 0xFF);
      }
      if (c < 2) {
        out.lastInput[c] = prevIn;
        out.lastOutput[c] = prevOut;
      }
    }
  }
  std::sort(clips.begin(), clips.end());
  for (const auto& [order, text] : clips) {
    out.messages.push_back(text);
    out.clipFrames.push_back(std::get<3>(order));
  }
  if (firstOverflow) out.overflow = firstOverflow->second;
  return out;
}

std::vector<Message> shownClipMessages(const Expected& want, const std::string& path) {
  const std::size_t shown = std::min<std::size_t>(want.messages.size(), kClipMessagesShown);
  std::vector<Message> messages;
  for (std::size_t k = 0; k < shown; ++k) {
    messages.push_back(Message{MessageKind::kError, "Error:", want.messages[k]});
  }
  if (want.messages.size() > shown) {
    const auto later = want.clipFrames.begin() + static_cast<std::ptrdiff_t>(shown);
    messages.push_back(laterClipsMessage(path,
                                         static_cast<std::int64_t>(want.messages.size() - shown),
                                         *std::min_element(later, want.clipFrames.end()),
                                         *std::max_element(later, want.clipFrames.end())));
  }
  return messages;
}

std::vector<std::string> shownClips(const Expected& want, const std::string& path) {
  std::vector<std::string> texts;
  for (const Message& m : shownClipMessages(want, path)) texts.push_back(m.text);
  return texts;
}

}  // namespace ril::test
