#include "ManualDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <cmath>

namespace {

// A4 in the document's units (1/96 inch), and the page margins; the footer sits in the bottom one.
const QSizeF kPage(793.7, 1122.5);
const double kMargin = 68.0;
const double kFontPoints = 10.0;

// Splits off the title ("# Title" on the first non-empty line) and lists the "##" and "###"
// headings outside code fences.
QString split_title(const QString& markdown, QString* body, QList<ManualDocument::Heading>* headings)
{
    const QStringList lines = markdown.split(QLatin1Char('\n'));
    QString title;
    QStringList rest;
    bool fenced = false;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String("```")))
            fenced = !fenced;
        if (!fenced && title.isEmpty() && rest.join(QString()).trimmed().isEmpty() && line.startsWith(QLatin1String("# "))) {
            title = line.mid(2).trimmed();
            rest.clear();
            continue;
        }
        if (!fenced) {
            static const QRegularExpression heading(QStringLiteral("^(##|###) +(.+?) *$"));
            const QRegularExpressionMatch match = heading.match(line);
            if (match.hasMatch())
                headings->append({match.captured(2), int(match.captured(1).size()), 0});
        }
        rest.append(line);
    }
    *body = rest.join(QLatin1Char('\n'));
    return title;
}

QString plain_heading(const QString& markdown)
{
    QString text = markdown;
    text.remove(QLatin1Char('*')).remove(QLatin1Char('`'));
    text.replace(QLatin1String("\\"), QString());
    return text;
}

}  // namespace

ManualDocument::ManualDocument(const QString& markdown)
    : document_(std::make_unique<QTextDocument>())
{
    build(markdown);
}

ManualDocument::~ManualDocument() = default;

void ManualDocument::build(const QString& markdown)
{
    QString body;
    title_ = split_title(markdown, &body, &contents_);
    for (Heading& heading : contents_)
        heading.text = plain_heading(heading.text);

    QTextDocument& doc = *document_;
    QFont font = doc.defaultFont();
    font.setPointSizeF(kFontPoints);
    doc.setDefaultFont(font);
    doc.setPageSize(kPage);
    QTextFrameFormat frame = doc.rootFrame()->frameFormat();
    frame.setMargin(kMargin);
    doc.rootFrame()->setFrameFormat(frame);

    // Page 1: the title, then the contents with the page numbers at a right tab.
    QTextCursor cursor(&doc);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    centred.setTopMargin(40);
    centred.setBottomMargin(30);
    QTextCharFormat titleFormat;
    titleFormat.setFontPointSize(26);
    titleFormat.setFontWeight(QFont::Bold);
    cursor.setBlockFormat(centred);
    cursor.setCharFormat(titleFormat);
    cursor.insertText(title_);

    QTextBlockFormat contentsHeading;
    contentsHeading.setTopMargin(10);
    contentsHeading.setBottomMargin(8);
    QTextCharFormat contentsHeadingFormat;
    contentsHeadingFormat.setFontPointSize(15);
    contentsHeadingFormat.setFontWeight(QFont::Bold);
    cursor.insertBlock(contentsHeading, contentsHeadingFormat);
    cursor.insertText(QObject::tr("Contents"));

    const double textWidth = kPage.width() - 2 * kMargin;
    QList<int> entryBlocks;
    for (const Heading& heading : contents_) {
        QTextBlockFormat entry;
        entry.setIndent(heading.level == 3 ? 1 : 0);
        entry.setTopMargin(heading.level == 2 ? 3 : 0);
        // Tab positions count from the indented left edge.
        const double indent = heading.level == 3 ? doc.indentWidth() : 0.0;
        entry.setTabPositions({QTextOption::Tab(textWidth - 4 - indent, QTextOption::RightTab)});
        QTextCharFormat entryFormat;
        entryFormat.setFontPointSize(heading.level == 2 ? 10 : 9);
        entryFormat.setFontWeight(heading.level == 2 ? QFont::DemiBold : QFont::Normal);
        cursor.insertBlock(entry, entryFormat);
        cursor.insertText(heading.text + QStringLiteral("\t0"));
        entryBlocks.append(cursor.block().blockNumber());
    }

    // The text starts on page 2.
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    const int bodyStart = cursor.block().blockNumber();
    cursor.insertMarkdown(body, QTextDocument::MarkdownDialectGitHub);
    QTextBlockFormat pageBreak;
    pageBreak.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    QTextCursor(doc.findBlockByNumber(bodyStart)).mergeBlockFormat(pageBreak);

    // Tables with single thin rules rather than the default double frames.
    for (QTextFrame* child : doc.rootFrame()->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            QTextTableFormat format = table->format();
            format.setBorder(0.5);
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            format.setBorderBrush(QColor(0x99, 0x99, 0x99));
            format.setCellPadding(3);
            format.setCellSpacing(0);
            format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
            table->setFormat(format);
        }
    }

    // Now that the layout is final, give each entry its page. The numbers never move a line.
    doc.documentLayout()->documentSize();
    int searchFrom = bodyStart;
    for (Heading& heading : contents_) {
        for (QTextBlock block = doc.findBlockByNumber(searchFrom); block.isValid(); block = block.next()) {
            if (block.blockFormat().headingLevel() == heading.level && plain_heading(block.text()) == heading.text) {
                heading.page = page_of(doc.documentLayout()->blockBoundingRect(block).top());
                searchFrom = block.blockNumber() + 1;
                break;
            }
        }
    }
    for (int i = 0; i < contents_.size(); ++i) {
        const QTextBlock block = doc.findBlockByNumber(entryBlocks[i]);
        QTextCursor number(block);
        number.setPosition(block.position() + int(block.text().lastIndexOf(QLatin1Char('\t'))) + 1);
        number.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        number.insertText(QString::number(contents_[i].page));
    }
}

int ManualDocument::page_of(double y) const
{
    return int(std::floor(y / kPage.height())) + 1;
}

int ManualDocument::pageCount() const
{
    return document_->pageCount();
}

int ManualDocument::pageOfText(const QString& text) const
{
    for (QTextBlock block = document_->begin(); block.isValid(); block = block.next()) {
        if (block.text().contains(text))
            return page_of(document_->documentLayout()->blockBoundingRect(block).top());
    }
    return 0;
}

bool ManualDocument::writePdf(const QString& path, QString* error) const
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(1200);
    writer.setTitle(title_);
    writer.setCreator(QStringLiteral("Corvane Prismet"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error)
            *error = QObject::tr("Cannot write %1").arg(path);
        return false;
    }
    // The layout is in 1/96 inch; the writer counts 1/1200.
    const double scale = double(writer.width()) / kPage.width();
    painter.scale(scale, scale);
    QFont footer = document_->defaultFont();
    footer.setPointSizeF(8.5);
    const int pages = pageCount();
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        const QRectF clip(0, page * kPage.height(), kPage.width(), kPage.height());
        painter.save();
        painter.translate(0, -clip.top());
        document_->drawContents(&painter, clip);
        painter.restore();
        if (page > 0) {
            painter.setFont(footer);
            painter.setPen(Qt::darkGray);
            painter.drawText(QRectF(kMargin, kPage.height() - kMargin * 0.7, kPage.width() - 2 * kMargin, kMargin * 0.4),
                             Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 \u2014 %2").arg(title_).arg(page + 1));
        }
    }
    painter.end();
    if (QFile(path).size() == 0) {
        if (error)
            *error = QObject::tr("Nothing was written to %1").arg(path);
        return false;
    }
    return true;
}
