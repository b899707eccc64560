#include "support/format_reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include "core/wav/sample_blocks.h"

namespace ril::test {

namespace {

// G.711 as the standard describes it: sign, a 3-bit segment, a 4-bit step.
double alaw(unsigned char byte) {
  const int x = byte ^ 0x55;
  const int segment = (x >> 4) & 7;
  const int step = x & 0x0F;
  const int magnitude = segment == 0 ? (2 * step + 1) * 8 : (2 * step + 33) * 8 << (segment - 1);
  return (x & 0x80) != 0 ? magnitude : -magnitude;
}

double mulaw(unsigned char byte) {
  const int x = ~byte & 0xFF;
  const int segment = (x >> 4) & 7;
  const int step = x & 0x0F;
  const int magnitude = ((2 * step + 33) << segment) * 4 - 132;
  return (x & 0x80) != 0 ? -magnitude : magnitude;
}

struct Sums {
  double min = 0, max = 0;
  std::int64_t minPos = 0, maxPos = 0;
  __extension__ __int128 intSum = 0;  // exact
  __extension__ __int128 intSumSq = 0;
  long double sum = 0, sumSq = 0;  // float values, in frame order
  std::int64_t full = 0;
};

void add(Sums& s, double v, std::int64_t pos, bool isFloat, double low, double high) {
  if (v > s.max) {
    s.max = v;
    s.maxPos = pos;
  }
  if (v < s.min) {
    s.min = v;
    s.minPos = pos;
  }
  if (isFloat) {
    s.sum += v;
    s.sumSq += static_cast<long double>(v) * v;
  } else {
    const auto i = static_cast<std::int64_t>(v);
    s.intSum += i;
    s.intSumSq += static_cast<__int128>(i) * i;
  }
  if (v <= low || v >= high) ++s.full;
}

ChannelFigures figures(const Sums& s, std::int64_t frames, bool isFloat, double scale) {
  ChannelFigures f{s.min, s.max, s.minPos, s.maxPos, 0, 0, s.full};
  const double n = static_cast<double>(frames);
  if (isFloat) {
    f.avg = static_cast<double>(s.sum / static_cast<long double>(frames));
    f.rms = static_cast<double>(std::sqrt(s.sumSq / static_cast<long double>(frames)));
    return f;
  }
  f.avg = (static_cast<double>(s.intSum) / n) / scale;
  f.rms = std::sqrt(static_cast<double>(s.intSumSq) / n) / scale;
  return f;
}

// The report's integer filter: (62 x[n-1] - 11 x[n] + 83 y[n-1]) / 134, to
// the nearest integer, halves to even.
std::int64_t integerStep(std::int64_t& px, std::int64_t& py, std::int64_t x) {
  const std::int64_t num = 62 * px - 11 * x + 83 * py;
  std::int64_t q = num / 134, r = num % 134;
  if (r < 0) {
    r += 134;
    --q;
  }
  if (2 * r > 134 || (2 * r == 134 && q % 2 != 0)) ++q;
  px = x;
  py = q;
  return q;
}

double doubleStep(double& px, double& py, double x) {
  const double y = ((15.5 * px - 2.75 * x) + 20.75 * py) / 33.5;
  px = x;
  py = y;
  return y;
}

double peakOf(const std::vector<ChannelFigures>& figs, const SampleFormat& f) {
  const bool sixteen = f.containerBytes <= 2 && !f.isFloat();
  const double lowest = sixteen ? -32768.0 : static_cast<double>(f.smallest());
  const double counted = sixteen ? 32767.0 : static_cast<double>(f.largest());
  double peak = 0;
  for (const ChannelFigures& r : figs) {
    peak = std::max(peak, r.max);
    peak = std::max(peak, !f.isFloat() && r.min == lowest ? counted : -r.min);
  }
  return peak;
}

}  // namespace

double referenceSample(const unsigned char* data, const WavFormat& format, std::int64_t k) {
  const int bytes = (format.bitsPerSample + 7) / 8;
  const unsigned char* p = data + k * bytes;
  if (format.encoding == SampleEncoding::kAlaw) return alaw(p[0]);
  if (format.encoding == SampleEncoding::kMulaw) return mulaw(p[0]);
  unsigned char le[8] = {};
  for (int b = 0; b < bytes; ++b) le[b] = format.bigEndian ? p[bytes - 1 - b] : p[b];
  if (format.encoding == SampleEncoding::kFloat) {
    if (bytes == 8) {
      double d;
      std::memcpy(&d, le, 8);
      return d;
    }
    float f;
    std::memcpy(&f, le, 4);
    return f;
  }
  if (bytes == 1) return le[0] - 128.0;
  std::int64_t v = 0;
  for (int b = bytes - 1; b >= 0; --b) v = v * 256 + le[b];
  if (le[bytes - 1] >= 0x80) v -= std::int64_t{1} << (8 * bytes);
  return static_cast<double>(v);
}

FormatReference referenceFigures(const unsigned char* data, const WavFormat& format,
                                 std::int64_t frames) {
  const SampleFormat f = format.sample();
  const bool isFloat = f.isFloat();
  const bool sixteen = f.containerBytes <= 2 && !isFloat;
  const double factor = f.containerBytes == 1 && !f.isCompanded() ? 256 : 1;
  const double low = isFloat ? -1.0 : static_cast<double>(f.smallest()) * factor;
  const double high = isFloat ? 1.0 : static_cast<double>(f.largest()) * factor;
  const double scale = isFloat ? 1.0 : f.fullScale() * factor;
  const bool deemphasis = format.sampleRate == 44100;
  FormatReference ref;
  for (int c = 0; c < format.channels; ++c) {
    Sums stored, filtered;
    std::int64_t ipx = 0, ipy = 0;
    double dpx = 0, dpy = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
      double v = referenceSample(data, format, i * format.channels + c) * factor;
      if (!std::isfinite(v)) v = 0;  // NaN and infinities are no levels
      add(stored, v, i, isFloat, low, high);
      if (!deemphasis) continue;
      double y;
      if (sixteen) {
        y = static_cast<double>(integerStep(ipx, ipy, static_cast<std::int64_t>(v)));
      } else {
        y = doubleStep(dpx, dpy, std::clamp(v, -0x1p1000, 0x1p1000));
        if (!isFloat) y = std::floor(y / f.step() + 0.5) * f.step();
      }
      add(filtered, y, i, isFloat, sixteen ? -32768 : low, sixteen ? 32767 : high);
    }
    ref.stored.push_back(figures(stored, frames, isFloat, scale));
    if (deemphasis) ref.filtered.push_back(figures(filtered, frames, isFloat, scale));
  }
  ref.peak[0] = peakOf(ref.stored, f);
  ref.peak[1] = deemphasis ? peakOf(ref.filtered, f) : 0;
  return ref;
}

bool sameFigures(const std::vector<ChannelFigures>& a, const std::vector<ChannelFigures>& b,
                 bool isFloat) {
  if (a.size() != b.size()) return false;
  for (std::size_t c = 0; c < a.size(); ++c) {
    if (a[c] == b[c]) continue;
    // Float sums are added in an order of their own: the average and RMS
    // agree to rounding, and to the squares a double cannot hold (values
    // below 2^-537 square to 0 there, not in long double).
    ChannelFigures x = a[c], y = b[c];
    const double slack = 1e-12 * std::max(-x.min, x.max) + 0x1p-500;
    if (!isFloat || !(std::fabs(x.avg - y.avg) <= slack) || !(std::fabs(x.rms - y.rms) <= slack)) {
      return false;
    }
    x.avg = y.avg;
    x.rms = y.rms;
    if (!(x == y)) return false;
  }
  return true;
}

namespace {

// One result stored in the file's byte order; true when it was limited.
bool storeResult(double y, const SampleFormat& f, unsigned char* at, std::int64_t& stored,
                 std::int64_t& beyond) {
  const int bytes = f.containerBytes;
  unsigned char le[8] = {};
  bool limited = false;
  if (f.isFloat()) {
    if (bytes == 4) {
      const float s = static_cast<float>(y);
      if (s > 1.0f || s < -1.0f) ++beyond;
      std::memcpy(le, &s, 4);
    } else {
      if (y > 1.0 || y < -1.0) ++beyond;
      std::memcpy(le, &y, 8);
    }
  } else {
    const double step = static_cast<double>(f.step());
    double r = std::floor(y / step + 0.5) * step;
    stored = static_cast<std::int64_t>(std::fmax(std::fmin(r, 0x1p62), -0x1p62));
    if (r > static_cast<double>(f.largest()) || r < static_cast<double>(f.smallest())) {
      limited = true;
      r = r > 0 ? static_cast<double>(f.largest()) : static_cast<double>(f.smallest());
    }
    auto n = static_cast<std::int64_t>(r);
    if (bytes == 1) n += 128;
    for (int b = 0; b < bytes; ++b) le[b] = static_cast<unsigned char>(n >> (8 * b));
  }
  for (int b = 0; b < bytes; ++b) at[b] = f.bigEndian ? le[bytes - 1 - b] : le[b];
  return limited;
}

}  // namespace

Expected expectedFormatOutput(const Bytes& data, const WavFormat& format, double factor,
                              bool deemphasis, double divisor,
                              const std::optional<std::vector<FrameRange>>& ranges,
                              std::int64_t& beyond) {
  const SampleFormat f = format.sample();
  const int channels = format.channels;
  const int width = f.containerBytes;
  const std::int64_t frames = static_cast<std::int64_t>(data.size()) / (width * channels);
  const std::int64_t perBlock =
      std::min(nominalBlockFrames(channels, format.bitsPerSample), frames);
  const std::int64_t lastBlock = perBlock > 0 ? frames / perBlock - 1 : 0;
  auto blockOf = [&](std::int64_t i) { return std::min(i / perBlock, lastBlock); };
  std::vector<FrameRange> within;
  for (const FrameRange& r : ranges ? *ranges : std::vector<FrameRange>{FrameRange{0, frames}}) {
    const std::int64_t end = r.count > frames - r.first ? frames : r.first + r.count;
    if (r.first < frames && end > r.first) within.push_back({r.first, end - r.first});
  }
  using Order = std::tuple<std::int64_t, std::size_t, int, std::int64_t>;
  std::vector<std::pair<Order, std::string>> clips;
  Expected out;
  out.samples = Bytes(data.begin(), data.begin() + frames * width * channels);
  for (std::size_t range = 0; range < within.size(); ++range) {
    for (int c = 0; c < channels; ++c) {
      double px = 0, py = 0;
      for (std::int64_t i = within[range].first; i < within[range].end(); ++i) {
        const std::int64_t k = i * channels + c;
        const double v = referenceSample(data.data(), format, k);
        // NaN and infinities stay as they were; the filter takes 0 for them.
        if (!std::isfinite(v)) {
          if (deemphasis) doubleStep(px, py, 0);
          continue;
        }
        double y = divisor > 0 ? v / divisor : v * factor;
        if (deemphasis) y = doubleStep(px, py, std::clamp(y, -0x1p1000, 0x1p1000));
        std::int64_t r = 0;
        if (!storeResult(y, f, out.samples.data() + k * width, r, beyond)) continue;
        const std::int64_t limit = r > 0 ? f.largest() : f.smallest();
        clips.emplace_back(Order{blockOf(i), range, c, i},
                           "Error at sample " + std::to_string(i) + "! Calculated value of " +
                               std::to_string(r) + " limited to " + std::to_string(limit) + "!");
      }
    }
  }
  std::sort(clips.begin(), clips.end());
  for (const auto& [order, text] : clips) {
    out.messages.push_back(text);
    out.clipFrames.push_back(std::get<3>(order));
  }
  return out;
}

}  // namespace ril::test
