// The program's pictures, embedded with Qt's resource system and addressed by their resource
// numbers: icon 128, bitmap 134 (the dialog background tile) and bitmap 142 (the Convert
// dialog's arrow).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace resources {

constexpr int kIconApplication = 128;
constexpr int kBitmapSkin = 134;
constexpr int kBitmapArrow = 142;

// Registers the embedded files; call once before the first picture is used.
void Initialise();

// The bitmap with the given number, or a null pixmap when there is none.
QPixmap Bitmap(int id);

// The sizes of the program icon beyond its 32 x 32 and 16 x 16 images.
constexpr int kLargerIconSizes[] = {24, 48, 64, 128, 256};

// Icon 128 with its 32 x 32 and 16 x 16 images and the larger sizes.
QIcon ApplicationIcon();

} // namespace resources
