#pragma once
// The console's pictures: the image list that lists, trees and window icons use by index (a
// strip of twenty 16 x 15 pictures, bitmap 130), the tool bar's pictures and the console's own
// picture. Pure green (0, 255, 0) is transparent in each. GUI thread only.

#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

namespace ConsoleImages {

inline constexpr int kImageCount = 20;
inline constexpr int kImageWidth = 16;
inline constexpr int kImageHeight = 15;

// The picture files built into the program.
inline constexpr const char* kImageListFile = ":/wardenhall/bitmap130.png";
inline constexpr const char* kToolBarFile = ":/wardenhall/toolbar128.png";
inline constexpr const char* kApplicationFile = ":/wardenhall/wardenhall.png";

// Makes the image list from `file` (a strip at least kImageCount pictures wide). When it cannot
// be made, shows "Could not load bitmaps" over `parent` and returns false; Image then gives
// empty icons. Loading again replaces the list.
bool LoadImageList(QWidget* parent, const QString& file = kImageListFile);
bool IsImageListLoaded();
// Picture `index` (0-19) of the image list; an empty icon for any other index.
QIcon Image(int index);

// Picture `index` of a strip of 16 x 15 pictures in `file`, green made transparent; null when
// the file has no such picture.
QPixmap StripPicture(const QString& file, int index);

// The console's own picture (32 x 32) and its window icon.
QPixmap ApplicationPicture();
QIcon ApplicationIcon();

}  // namespace ConsoleImages
