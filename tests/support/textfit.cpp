#include "support/textfit.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStyle>
#include <QTextDocument>
#include <QWidget>

namespace {

// Whether an ancestor up to the root was hidden on purpose (a page stack
// only hides its other pages, which count).
bool hiddenOnPurpose(const QWidget *widget, const QWidget *root)
{
    for (const QWidget *w = widget; w && w != root; w = w->parentWidget()) {
        if (!w->isHidden())
            continue;
        const QWidget *parent = w->parentWidget();
        if (!parent || !parent->inherits("QStackedWidget"))
            return true;
    }
    return false;
}

// In fractions of a pixel: at 125 % and more whole-pixel metrics round every
// line up.
QSizeF neededSize(const QLabel *label, int width)
{
    const QString text = label->text();
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    if (rich) {
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setDocumentMargin(0);
        document.setHtml(text);
        if (label->wordWrap())
            document.setTextWidth(width);
        return document.size();
    }
    const QFontMetricsF metrics(label->font());
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    return metrics
        .boundingRect(QRectF(0, 0, label->wordWrap() ? width : 100000, 100000), flags, text)
        .size();
}

} // namespace

QStringList clippedLabels(const QWidget *root)
{
    QStringList clipped;
    for (const QLabel *label : root->findChildren<QLabel *>()) {
        if (label->text().isEmpty() || hiddenOnPurpose(label, root))
            continue;
        const QRect room = label->contentsRect().marginsRemoved(
            QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
        const QSizeF needed = neededSize(label, room.width());
        // A line is as wide as its text; wrapped text is as tall as its lines.
        // Centred lines that overflow lose as much at the top as at the
        // bottom: up to the font's descent that is blank space above the
        // first line's glyphs and below the last line's, and nothing shows cut.
        const qreal slack =
            label->alignment() & Qt::AlignVCenter ? QFontMetricsF(label->font()).descent() : 0;
        const bool fits = label->wordWrap() ? needed.height() <= room.height() + slack
                                            : needed.width() <= room.width();
        if (fits)
            continue;
        clipped << QStringLiteral("%1/%2: %3 (needs %4 x %5, has %6 x %7)")
                       .arg(QString::fromLatin1(root->metaObject()->className()),
                            label->objectName(), label->text().left(40))
                       .arg(needed.width(), 0, 'f', 1)
                       .arg(needed.height(), 0, 'f', 1)
                       .arg(room.width())
                       .arg(room.height());
    }
    return clipped;
}
