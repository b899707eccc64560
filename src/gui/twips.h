// Twips (1/1440 inch) against pixels: pixels = twips * logicalDpi / 1440,
// 15 twips per pixel at 96 DPI.
#pragma once

class QPaintDevice;

namespace ril {

double twipsPerPixelX(const QPaintDevice* device);
double twipsPerPixelY(const QPaintDevice* device);
int twipsToPixelsX(double twips, const QPaintDevice* device);  // rounded
int twipsToPixelsY(double twips, const QPaintDevice* device);
double pixelsToTwipsX(int pixels, const QPaintDevice* device);
double pixelsToTwipsY(int pixels, const QPaintDevice* device);

}  // namespace ril
