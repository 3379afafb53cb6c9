#pragma once

#include "app/codex/AttributedString.h"

#include <QColor>
#include <QFont>

class QTextDocument;
class QTextBrowser;
class QWidget;

// Styled text from the Markdown renderer shown with Qt's rich text: headings, emphasis, code spans
// and blocks in a monospace font, lists, quotes, tables, rules and links.
//
// Other windows reuse it like this:
//     auto* view = zorvane::ui::RichText::makeView(parent);   // selectable, links open in the browser
//     zorvane::ui::RichText::setMarkdown(*view, markdownText);
namespace zorvane::ui::RichText {

struct Style {
    QFont body;
    QFont monospace;
    QColor text;
    QColor secondaryText; // quotes
    QColor codeBackground;
    QColor link;
    QColor rule;          // table borders and horizontal rules
};

// The style of the current Theme.
Style currentStyle();

// Replaces the document's content with the styled text.
void fill(QTextDocument& document, const AttributedString& text, const Style& style);

// A read-only, selectable text view whose links open in the user's browser (web and mail links
// only; anything else is ignored). Its object name is "markdownView".
QTextBrowser* makeView(QWidget* parent);

// Renders Markdown into the view with the current theme.
void setMarkdown(QTextBrowser& view, const std::string& markdown);

// Whether a link destination may be handed to the browser.
bool isOpenableLink(const QString& destination);

} // namespace zorvane::ui::RichText
