// kv-icons: writes the program's icon for the hicolor theme, drawn from the logo of the
// logo box: PNG files at the usual sizes and a scalable SVG.
//
//   kv-icons FOLDER NAME
//
// gives FOLDER/hicolor/<n>x<n>/apps/NAME.png and FOLDER/hicolor/scalable/apps/NAME.svg.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <QImage>
#include <QPainter>
#include <QString>

#include "gui/Pictures.h"

namespace {

namespace fs = std::filesystem;

// The logo is laid out for the 64-pixel logo box; every size is that drawing scaled.
constexpr qreal kDesignSide = 64;
constexpr int kPngSides[] = {16, 22, 24, 32, 48, 64, 128, 256};

std::string number(qreal value) {
    return QString::number(value, 'f', 2).toStdString();
}

bool writePng(const fs::path& file, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(side / kDesignSide, side / kDesignSide);
    kv::gui::paintLogo(p, QSizeF(kDesignSide, kDesignSide));
    p.end();
    return image.save(QString::fromStdString(file.string()), "PNG");
}

bool writeSvg(const fs::path& file) {
    const kv::gui::LogoShape shape = kv::gui::logoShape(QSizeF(kDesignSide, kDesignSide));
    std::ofstream out(file);
    const std::string side = number(kDesignSide);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << side << "\" height=\"" << side
        << "\" viewBox=\"0 0 " << side << ' ' << side << "\">\n"
        << "  <rect width=\"" << side << "\" height=\"" << side << "\" fill=\"#000000\"/>\n"
        << "  <ellipse cx=\"" << number(shape.ring.center().x()) << "\" cy=\""
        << number(shape.ring.center().y()) << "\" rx=\"" << number(shape.ring.width() / 2)
        << "\" ry=\"" << number(shape.ring.height() / 2) << "\" fill=\"none\" stroke=\""
        << shape.ringColor.name().toStdString() << "\" stroke-width=\"" << number(shape.ringWidth)
        << "\"/>\n"
        << "  <g stroke=\"#ffffff\" stroke-width=\"" << number(shape.strokeWidth)
        << "\" stroke-linecap=\"square\">\n";
    for (const QLineF& stroke : shape.strokes) {
        out << "    <line x1=\"" << number(stroke.x1()) << "\" y1=\"" << number(stroke.y1())
            << "\" x2=\"" << number(stroke.x2()) << "\" y2=\"" << number(stroke.y2()) << "\"/>\n";
    }
    out << "  </g>\n</svg>\n";
    return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kv-icons FOLDER NAME\n");
        return 2;
    }
    const fs::path theme = fs::path(argv[1]) / "hicolor";
    const std::string name = argv[2];
    try {
        for (int side : kPngSides) {
            const fs::path folder =
                theme / (std::to_string(side) + "x" + std::to_string(side)) / "apps";
            fs::create_directories(folder);
            if (!writePng(folder / (name + ".png"), side)) {
                std::fprintf(stderr, "kv-icons: cannot write the %d pixel icon\n", side);
                return 1;
            }
        }
        const fs::path scalable = theme / "scalable" / "apps";
        fs::create_directories(scalable);
        if (!writeSvg(scalable / (name + ".svg"))) {
            std::fprintf(stderr, "kv-icons: cannot write the SVG icon\n");
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kv-icons: %s\n", e.what());
        return 1;
    }
    return 0;
}
