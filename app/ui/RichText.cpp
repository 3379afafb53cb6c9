#include "app/ui/RichText.h"

#include "app/codex/ResponseMarkdown.h"
#include "app/ui/Theme.h"

#include <QDesktopServices>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QUrl>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace zorvane::ui::RichText {
namespace {

using Kind = BlockIntent::Kind;

bool isLeafKind(Kind kind)
{
    return kind == Kind::paragraph || kind == Kind::heading || kind == Kind::codeBlock || kind == Kind::thematicBreak
        || kind == Kind::tableCell;
}

// The block a run's text belongs to: its innermost leaf block, else its innermost block.
const BlockIntent* leafOf(const RunAttributes& attributes)
{
    for (auto it = attributes.blocks.rbegin(); it != attributes.blocks.rend(); ++it) {
        if (isLeafKind(it->kind)) return &*it;
    }
    return attributes.blocks.empty() ? nullptr : &attributes.blocks.back();
}

const BlockIntent* find(const RunAttributes& attributes, Kind kind)
{
    for (auto it = attributes.blocks.rbegin(); it != attributes.blocks.rend(); ++it) {
        if (it->kind == kind) return &*it;
    }
    return nullptr;
}

int depthOf(const RunAttributes& attributes, Kind kind)
{
    int depth = 0;
    for (const BlockIntent& block : attributes.blocks) depth += block.kind == kind ? 1 : 0;
    return depth;
}

QString bulletFor(int depth)
{
    switch ((depth - 1) % 3) {
    case 0: return QStringLiteral("•");
    case 1: return QStringLiteral("◦");
    default: return QStringLiteral("▪");
    }
}

class Builder {
public:
    Builder(QTextDocument& document, const AttributedString& text, const Style& style)
        : document_(document), text_(text), style_(style), cursor_(&document)
    {
    }

    void build()
    {
        document_.clear();
        document_.setDefaultFont(style_.body);
        document_.setDocumentMargin(0);
        // Room for a list's marker ("10." included) before the text of its items.
        document_.setIndentWidth(28);
        countTableRows();
        cursor_ = QTextCursor(&document_);
        cursor_.beginEditBlock();
        for (const AttributedRun& run : text_.runs()) addRun(run);
        cursor_.endEditBlock();
    }

private:
    void countTableRows()
    {
        for (const AttributedRun& run : text_.runs()) {
            const BlockIntent* table = find(run.attributes, Kind::table);
            if (!table) continue;
            int row = 0;
            if (const BlockIntent* r = find(run.attributes, Kind::tableRow)) row = r->row;
            int& rows = tableRows_[table->identity];
            rows = std::max(rows, row + 1);
        }
    }

    void addRun(const AttributedRun& run)
    {
        const RunAttributes& a = run.attributes;
        const BlockIntent* leaf = leafOf(a);
        const int identity = leaf ? leaf->identity : -1;
        if (!started_ || identity != leafIdentity_) {
            startBlock(a, leaf);
            leafIdentity_ = identity;
            started_ = true;
        }
        QString piece = QString::fromUtf8(text_.substring(run).data(), static_cast<qsizetype>(run.length));
        // Line breaks stay inside the block (code keeps its lines, quotes their shape).
        piece.replace(QLatin1Char('\n'), QChar::LineSeparator);
        if (!piece.isEmpty()) cursor_.insertText(piece, charFormat(a, leaf));
    }

    void startBlock(const RunAttributes& a, const BlockIntent* leaf)
    {
        const BlockIntent* table = find(a, Kind::table);
        if (table) {
            startCell(a, *table, leaf);
            return;
        }
        if (codeFrame_) {
            // The code block has ended: go on in the block Qt keeps after its frame.
            cursor_ = codeFrame_->lastCursorPosition();
            cursor_.movePosition(QTextCursor::NextBlock);
            codeFrame_ = nullptr;
            reuseBlock_ = true;
        }
        if (currentTable_) {
            // The table has ended: go on in the block Qt keeps after it.
            currentTable_ = nullptr;
            currentTableIdentity_ = -1;
            cursor_.movePosition(QTextCursor::End);
            reuseBlock_ = true;
        }

        QTextBlockFormat format;
        const int quoteDepth = depthOf(a, Kind::blockQuote);
        const int listDepth = depthOf(a, Kind::listItem);
        format.setTopMargin(0);
        format.setBottomMargin(8);
        if (leaf && leaf->kind == Kind::heading) {
            format.setTopMargin(started_ ? 8 : 0);
            format.setBottomMargin(6);
            format.setHeadingLevel(leaf->level);
        }
        const bool code = leaf && leaf->kind == Kind::codeBlock;
        if (code) format.setBottomMargin(0);
        if (leaf && leaf->kind == Kind::thematicBreak) {
            format.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth, QTextLength(QTextLength::PercentageLength, 100));
        }
        if (quoteDepth > 0) format.setIndent(format.indent() + quoteDepth);
        if (listDepth > 0) format.setBottomMargin(leaf && leaf->kind == Kind::codeBlock ? 8 : 3);

        if (code) {
            // A shaded frame with room around the text, indented like its list or quote.
            reuseBlock_ = false;
            QTextFrameFormat frame;
            frame.setBackground(style_.codeBackground);
            frame.setPadding(8);
            frame.setBorder(0);
            frame.setTopMargin(6);
            frame.setBottomMargin(10);
            frame.setLeftMargin(document_.indentWidth() * (listDepth + quoteDepth));
            codeFrame_ = cursor_.insertFrame(frame);
            cursor_.setBlockFormat(format);
            return;
        }
        if (reuseBlock_ || !started_) {
            cursor_.setBlockFormat(format);
            reuseBlock_ = false;
        } else {
            cursor_.insertBlock(format);
        }

        // The first block of a list item carries its bullet or number, hanging in the indent half an
        // em before the text; later lines and blocks of the item line up with that text.
        if (const BlockIntent* item = find(a, Kind::listItem)) {
            const BlockIntent* list = nullptr;
            for (auto it = a.blocks.rbegin(); it != a.blocks.rend(); ++it) {
                if (it->kind == Kind::orderedList || it->kind == Kind::unorderedList) {
                    list = &*it;
                    break;
                }
            }
            QTextBlockFormat indented = cursor_.blockFormat();
            indented.setIndent(listDepth + quoteDepth);
            if (list && itemsStarted_.insert(item->identity).second) {
                const QString marker = (list->kind == Kind::orderedList ? QString::number(item->ordinal) + QLatin1Char('.')
                                                                        : bulletFor(list->depth))
                    + QChar(0x2002);
                indented.setTextIndent(-QFontMetricsF(style_.body).horizontalAdvance(marker));
                cursor_.setBlockFormat(indented);
                QTextCharFormat markerFormat;
                markerFormat.setFont(style_.body);
                markerFormat.setForeground(style_.text);
                cursor_.insertText(marker, markerFormat);
            } else {
                cursor_.setBlockFormat(indented);
            }
        }
    }

    void startCell(const RunAttributes& a, const BlockIntent& table, const BlockIntent* leaf)
    {
        if (codeFrame_) {
            cursor_ = codeFrame_->lastCursorPosition();
            cursor_.movePosition(QTextCursor::NextBlock);
            codeFrame_ = nullptr;
            reuseBlock_ = true;
        }
        if (!currentTable_ || currentTableIdentity_ != table.identity) {
            // The table follows its own plain block (not one that carries a code background).
            if (started_ && !reuseBlock_) cursor_.insertBlock(QTextBlockFormat(), QTextCharFormat());
            reuseBlock_ = false;
            const int columns = std::max<int>(1, static_cast<int>(table.columns.size()));
            const int rows = std::max(1, tableRows_[table.identity]);
            QTextTableFormat format;
            format.setBorder(1);
            format.setBorderBrush(style_.rule);
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            format.setBorderCollapse(true);
            format.setCellSpacing(0);
            format.setTopMargin(4);
            format.setBottomMargin(8);
            format.setHeaderRowCount(1);
            currentTable_ = cursor_.insertTable(rows, columns, format);
            currentTableIdentity_ = table.identity;
            columnAlignments_ = table.columns;
        }
        int row = 0;
        if (const BlockIntent* r = find(a, Kind::tableRow)) row = r->row;
        const int column = leaf && leaf->kind == Kind::tableCell ? leaf->column : 0;
        if (row >= currentTable_->rows() || column >= currentTable_->columns()) return;
        QTextTableCell cell = currentTable_->cellAt(row, column);
        QTextTableCellFormat padded = cell.format().toTableCellFormat();
        padded.setTopPadding(4);
        padded.setBottomPadding(4);
        padded.setLeftPadding(8);
        padded.setRightPadding(8);
        cell.setFormat(padded);
        cursor_ = cell.firstCursorPosition();
        QTextBlockFormat format = cursor_.blockFormat();
        Qt::Alignment alignment = Qt::AlignLeft;
        if (column < static_cast<int>(columnAlignments_.size())) {
            switch (columnAlignments_[static_cast<std::size_t>(column)]) {
            case BlockIntent::Alignment::center: alignment = Qt::AlignHCenter; break;
            case BlockIntent::Alignment::right: alignment = Qt::AlignRight; break;
            default: break;
            }
        }
        format.setAlignment(alignment);
        cursor_.setBlockFormat(format);
    }

    QTextCharFormat charFormat(const RunAttributes& a, const BlockIntent* leaf) const
    {
        QTextCharFormat format;
        format.setFont(style_.body);
        format.setForeground(style_.text);
        if (leaf && leaf->kind == Kind::heading) {
            static constexpr double scale[] = {1.0, 1.45, 1.25, 1.12, 1.05, 1.0, 1.0};
            QFont font = style_.body;
            font.setPixelSize(qRound(style_.body.pixelSize() * scale[std::clamp(leaf->level, 1, 6)]));
            font.setWeight(QFont::Bold);
            format.setFont(font);
        }
        if (leaf && leaf->kind == Kind::codeBlock) format.setFont(style_.monospace);
        if (find(a, Kind::tableHeaderRow)) format.setFontWeight(QFont::Bold);
        if (find(a, Kind::blockQuote)) format.setForeground(style_.secondaryText);
        if (a.has(InlineStyle::strong)) format.setFontWeight(QFont::Bold);
        if (a.has(InlineStyle::emphasis)) format.setFontItalic(true);
        if (a.has(InlineStyle::strikethrough)) format.setFontStrikeOut(true);
        if (a.has(InlineStyle::code)) {
            QFont mono = style_.monospace;
            mono.setWeight(format.font().weight());
            format.setFont(mono);
            format.setBackground(style_.codeBackground);
        }
        if (a.link) {
            format.setAnchor(true);
            format.setAnchorHref(QString::fromStdString(*a.link));
            format.setForeground(style_.link);
            format.setFontUnderline(true);
            format.setToolTip(QString::fromStdString(*a.link));
        }
        if (a.imageSource) format.setFontItalic(true);
        return format;
    }

    QTextDocument& document_;
    const AttributedString& text_;
    const Style& style_;
    QTextCursor cursor_;
    bool started_ = false;
    bool reuseBlock_ = false;
    int leafIdentity_ = -2;
    std::map<int, int> tableRows_;
    std::set<int> itemsStarted_;
    QTextTable* currentTable_ = nullptr;
    QTextFrame* codeFrame_ = nullptr;
    int currentTableIdentity_ = -1;
    std::vector<BlockIntent::Alignment> columnAlignments_;
};

} // namespace

Style currentStyle()
{
    const Theme& theme = Theme::shared();
    const ThemeColors& c = theme.colors();
    Style style;
    style.body = Theme::font(TextStyle::body);
    style.monospace = Theme::font(TextStyle::monospaced);
    style.text = c.text;
    style.secondaryText = c.secondaryText;
    style.codeBackground = theme.isDark() ? QColor(255, 255, 255, 20) : QColor(0, 0, 0, 13);
    style.link = c.link;
    // Opaque: the grid's inner lines are drawn twice, and a translucent colour would darken them.
    const double ruleShare = theme.isDark() ? 0.22 : 0.16;
    style.rule = QColor::fromRgbF(static_cast<float>(c.surface.redF() + (c.text.redF() - c.surface.redF()) * ruleShare),
        static_cast<float>(c.surface.greenF() + (c.text.greenF() - c.surface.greenF()) * ruleShare),
        static_cast<float>(c.surface.blueF() + (c.text.blueF() - c.surface.blueF()) * ruleShare));
    return style;
}

void fill(QTextDocument& document, const AttributedString& text, const Style& style)
{
    Builder(document, text, style).build();
}

bool isOpenableLink(const QString& destination)
{
    const QUrl url(destination, QUrl::StrictMode);
    if (!url.isValid()) return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto")) return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

QTextBrowser* makeView(QWidget* parent)
{
    auto* view = new QTextBrowser(parent);
    view->setObjectName(QStringLiteral("markdownView"));
    view->setOpenLinks(false);
    view->setOpenExternalLinks(false);
    view->setFrameShape(QFrame::NoFrame);
    view->setTextInteractionFlags(Qt::TextBrowserInteraction);
    view->viewport()->setAutoFillBackground(false);
    view->setAttribute(Qt::WA_TranslucentBackground);
    view->setStyleSheet(QStringLiteral("QTextBrowser { background: transparent; border: none; }"));
    QObject::connect(view, &QTextBrowser::anchorClicked, view, [](const QUrl& url) {
        const QString destination = url.toString();
        if (isOpenableLink(destination)) QDesktopServices::openUrl(QUrl(destination));
    });
    return view;
}

void setMarkdown(QTextBrowser& view, const std::string& markdown)
{
    fill(*view.document(), ResponseMarkdown::render(markdown), currentStyle());
}

} // namespace zorvane::ui::RichText
