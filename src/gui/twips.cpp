#include "gui/twips.h"

#include <QPaintDevice>
#include <cmath>

namespace ril {
namespace {

constexpr double kTwipsPerInch = 1440.0;

int dpiX(const QPaintDevice* device) {
  const int dpi = device ? device->logicalDpiX() : 0;
  return dpi > 0 ? dpi : 96;
}

int dpiY(const QPaintDevice* device) {
  const int dpi = device ? device->logicalDpiY() : 0;
  return dpi > 0 ? dpi : 96;
}

int roundToPixels(double value) {
  return static_cast<int>(std::lround(value));
}

}  // namespace

double twipsPerPixelX(const QPaintDevice* device) {
  return kTwipsPerInch / dpiX(device);
}
double twipsPerPixelY(const QPaintDevice* device) {
  return kTwipsPerInch / dpiY(device);
}

int twipsToPixelsX(double twips, const QPaintDevice* device) {
  return roundToPixels(twips * dpiX(device) / kTwipsPerInch);
}

int twipsToPixelsY(double twips, const QPaintDevice* device) {
  return roundToPixels(twips * dpiY(device) / kTwipsPerInch);
}

double pixelsToTwipsX(int pixels, const QPaintDevice* device) {
  return pixels * kTwipsPerInch / dpiX(device);
}

double pixelsToTwipsY(int pixels, const QPaintDevice* device) {
  return pixels * kTwipsPerInch / dpiY(device);
}

}  // namespace ril
