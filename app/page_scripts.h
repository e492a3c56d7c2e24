#pragma once
// The scripts the shell runs in the pages of the browser panel. Pages may not run scripts of
// their own; these run in a world of the program's own, which shares the page's document but
// none of its script state, and which that setting does not switch off. Each function only
// writes the text of a script; any thread may call it.

#include <QString>

namespace velunor {

/// `text` as a JavaScript string literal, every character written as \uXXXX, so that no text
/// can end the string or the script.
QString JavaScriptString(const QString& text);

/// Answers the inner HTML of the element with id `id`, or "" when the page has none.
QString InnerHtmlScript(const QString& id);

/// Lays `styleSheet` over the page when it is a file below the folder `libraryFolder` (an
/// absolute path ending in "/"), after the page's own style sheets, in place of what an earlier
/// run laid over the same page; takes it away from a page outside the folder. Meant to run at
/// the creation of every document, and again on the page shown when the sheet changes.
QString LibraryStyleScript(const QString& libraryFolder, const QString& styleSheet);

/// In a page below `libraryFolder`, turns chapter text written as lines between line breaks
/// into paragraphs, and takes the blank lead (spaces, no-break spaces, ideographic spaces) off
/// every paragraph of it, so that one indent rule gives every paragraph the same first-line
/// indent; a paragraph holding only pictures is marked "picture". Only the shown document
/// changes. Meant to run once the document is parsed.
QString ChapterParagraphScript(const QString& libraryFolder);

/// Answers the address, resolved against the page, of its first link whose text, without the
/// blanks around it, is `text`; "" when it has none.
QString LinkAddressScript(const QString& text);

/// Scrolls the page to `fraction` (0 to 1) of the distance it can scroll and answers the
/// scroll position reached.
QString ScrollToFractionScript(double fraction);

/// Answers the first words, at most `length` characters, of the first paragraph of chapter text
/// that reaches into the screen; "" when the page has no chapter text in view.
QString TextInViewScript(int length);

/// Scrolls the page down by a screen less a line of overlap and answers true; answers false,
/// scrolling nothing, when the end of the page is already in view.
QString ScrollPageDownScript();

} // namespace velunor
