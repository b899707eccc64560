#include "core/picture/svg_picture.h"

#include <cstdio>

namespace ril {

namespace {

std::string number(double v) {
  std::string text = fixedText(v, 1);
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text == "-0" ? "0" : text;
}

std::string colourOf(const Colour& c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", c.r, c.g, c.b);
  return hex;
}

// The length of the UTF-8 sequence at `s[i]`, or 0 when it is not one.
std::size_t utf8Length(const std::string& s, std::size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  const std::size_t n = lead < 0x80                   ? 1
                        : lead >= 0xc2 && lead < 0xe0 ? 2
                        : lead >= 0xe0 && lead < 0xf0 ? 3
                        : lead >= 0xf0 && lead < 0xf5 ? 4
                                                      : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return 0;
  }
  return n;
}

// Text as XML character data: the markup characters escaped, control
// characters and bytes that are not UTF-8 shown as "?".
std::string xmlText(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = utf8Length(s, i);
    const char c = s[i];
    if (n == 0 || (n == 1 && static_cast<unsigned char>(c) < 0x20)) {
      out += '?';
      i += n == 0 ? 1 : n;
      continue;
    }
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else {
      out.append(s, i, n);
    }
    i += n;
  }
  return out;
}

std::string stroke(const Shape& s) {
  std::string out = " fill=\"none\" stroke=\"" + colourOf(s.colour) + "\" stroke-width=\"" +
                    number(s.width) + "\"";
  if (s.dashed) out += " stroke-dasharray=\"4 3\"";
  return out;
}

std::string element(const Shape& s) {
  const std::vector<double>& p = s.points;
  switch (s.kind) {
    case Shape::Kind::kRect:
      return "<rect x=\"" + number(p[0]) + "\" y=\"" + number(p[1]) + "\" width=\"" + number(p[2]) +
             "\" height=\"" + number(p[3]) + "\" fill=\"" + colourOf(s.colour) + "\"/>";
    case Shape::Kind::kLine:
      return "<line x1=\"" + number(p[0]) + "\" y1=\"" + number(p[1]) + "\" x2=\"" + number(p[2]) +
             "\" y2=\"" + number(p[3]) + "\"" + stroke(s) + "/>";
    case Shape::Kind::kBars: {
      if (p.empty()) return {};
      std::string d;
      for (std::size_t i = 0; i + 2 < p.size(); i += 3) {
        d += (d.empty() ? "M" : " M") + number(p[i]) + " " + number(p[i + 1]) + "V" +
             number(p[i + 2]);
      }
      return "<path d=\"" + d + "\"" + stroke(s) + "/>";
    }
    case Shape::Kind::kPolyline: {
      std::string points;
      for (std::size_t i = 0; i + 1 < p.size(); i += 2) {
        points += (points.empty() ? "" : " ") + number(p[i]) + "," + number(p[i + 1]);
      }
      return "<polyline points=\"" + points + "\"" + stroke(s) + "/>";
    }
    case Shape::Kind::kText: {
      const char* anchor = s.anchor == Shape::Anchor::kStart    ? "start"
                           : s.anchor == Shape::Anchor::kMiddle ? "middle"
                                                                : "end";
      return "<text x=\"" + number(p[0]) + "\" y=\"" + number(p[1]) + "\" font-size=\"" +
             number(s.size) + "\" fill=\"" + colourOf(s.colour) + "\" text-anchor=\"" + anchor +
             "\">" + xmlText(s.text) + "</text>";
    }
  }
  return {};
}

}  // namespace

std::string svgOf(const LevelPicture& picture, const std::string& title) {
  const std::string w = std::to_string(picture.width), h = std::to_string(picture.height);
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
      w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
      "\" font-family=\"DejaVu Sans, Arial, sans-serif\">\n<title>" + xmlText(title) + "</title>\n";
  for (const Shape& s : picture.shapes) {
    const std::string e = element(s);
    if (!e.empty()) out += e + "\n";
  }
  return out + "</svg>\n";
}

}  // namespace ril
