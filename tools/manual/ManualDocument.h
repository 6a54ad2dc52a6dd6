#pragma once

#include <QList>
#include <QString>

#include <memory>

class QTextDocument;

// The user manual laid out for print: its Markdown (a "# " title line, then the text) becomes
// A4 pages whose first holds the title and a table of contents with page numbers; the text
// starts on page 2. Needs a QGuiApplication (fonts).
class ManualDocument
{
public:
    struct Heading {
        QString text;
        int level = 0;  // 2 or 3, as the Markdown's "##" and "###"
        int page = 0;   // counted from 1
    };

    explicit ManualDocument(const QString& markdown);
    ~ManualDocument();

    QString title() const { return title_; }
    // The headings of the text as the table of contents lists them.
    QList<Heading> contents() const { return contents_; }
    int pageCount() const;
    // The page (from 1) on which the block holding `text` starts; 0 when no block holds it.
    int pageOfText(const QString& text) const;
    QTextDocument* document() const { return document_.get(); }

    // Writes the pages with Qt's PDF writer; false (with the reason) when the file cannot be written.
    bool writePdf(const QString& path, QString* error) const;

private:
    void build(const QString& markdown);
    int page_of(double y) const;

    QString title_;
    QList<Heading> contents_;
    std::unique_ptr<QTextDocument> document_;
};
