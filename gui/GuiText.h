#pragma once

#include <QByteArray>
#include <QFont>
#include <QString>
#include <string>

namespace kv::gui {

// The engine's texts are 8-bit strings in the system's local encoding (file paths
// included); the widgets take QString.
inline QString toQ(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string fromQ(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Every font of the windows is Arial at a fixed pixel size, so the layout does not
// depend on the screen's resolution.
inline QFont arialPx(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace kv::gui
