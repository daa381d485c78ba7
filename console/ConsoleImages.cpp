#include "console/ConsoleImages.h"

#include "console/ConsoleTexts.h"
#include "console/MessageBox.h"

#include <QImage>

#include <vector>

// The pictures are built into this library; a static library must register them itself.
static void RegisterPictures() { Q_INIT_RESOURCE(wardenhall); }

namespace ConsoleImages {

namespace {

constexpr QRgb kTransparent = qRgb(0, 255, 0);

std::vector<QIcon>& ImageList() {
    // Never destroyed: pixmaps may not be freed after the application object has gone.
    static auto* images = new std::vector<QIcon>;
    return *images;
}

QImage LoadTransparent(const QString& file) {
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
    QImage image(file);
    if (image.isNull())
        return image;
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] | 0xFF000000u) == kTransparent)
                line[x] = 0;
    }
    return image;
}

}  // namespace

bool LoadImageList(QWidget* parent, const QString& file) {
    std::vector<QIcon>& images = ImageList();
    images.clear();
    QImage strip = LoadTransparent(file);
    if (strip.isNull() || strip.width() < kImageCount * kImageWidth || strip.height() < kImageHeight) {
        ConsoleMessageBox(parent, ConsoleTexts::kNoBitmaps);
        return false;
    }
    for (int i = 0; i < kImageCount; ++i)
        images.emplace_back(QPixmap::fromImage(strip.copy(i * kImageWidth, 0, kImageWidth, kImageHeight)));
    return true;
}

bool IsImageListLoaded() { return !ImageList().empty(); }

QIcon Image(int index) {
    const std::vector<QIcon>& images = ImageList();
    if (index < 0 || static_cast<std::size_t>(index) >= images.size())
        return {};
    return images[static_cast<std::size_t>(index)];
}

QPixmap StripPicture(const QString& file, int index) {
    QImage strip = LoadTransparent(file);
    if (strip.isNull() || index < 0 || (index + 1) * kImageWidth > strip.width())
        return {};
    return QPixmap::fromImage(strip.copy(index * kImageWidth, 0, kImageWidth, kImageHeight));
}

QPixmap ApplicationPicture() { return QPixmap::fromImage(LoadTransparent(kApplicationFile)); }

QIcon ApplicationIcon() { return QIcon(ApplicationPicture()); }

}  // namespace ConsoleImages
