#include "app/page_scripts.h"

namespace velunor {

namespace {

// An expression: whether the page is a file below the folder the literal %1 names. A path that
// does not decode is no library page.
QString InLibraryExpression(const QString& libraryFolder) {
    return QStringLiteral(
               "(function(folder){"
               "if (location.protocol !== 'file:') { return false; }"
               "try { return decodeURIComponent(location.pathname).indexOf(folder) === 0; }"
               "catch (e) { return false; }"
               "})(%1)")
        .arg(JavaScriptString(libraryFolder));
}

} // namespace

QString JavaScriptString(const QString& text) {
    QString literal = QStringLiteral("\"");
    for (QChar unit : text) {
        literal += QStringLiteral("\\u%1").arg(unit.unicode(), 4, 16, QLatin1Char('0'));
    }
    literal += QLatin1Char('"');
    return literal;
}

QString InnerHtmlScript(const QString& id) {
    return QStringLiteral("(function(){var e=document.getElementById(%1);"
                          "return e===null?\"\":e.innerHTML;})()")
        .arg(JavaScriptString(id));
}

// The sheet is kept on the world's own window object, which lives as long as the document: a
// second run on the same page rewrites that sheet instead of adding another. A sheet adopted by
// the document comes after every sheet of the page's own, so its rules win at equal weight; it
// also needs no element to hang on, which does not exist yet when a document is created.
QString LibraryStyleScript(const QString& libraryFolder, const QString& styleSheet) {
    return QStringLiteral(R"js((function(){
var inLibrary = %1;
var others = Array.prototype.filter.call(document.adoptedStyleSheets, function(sheet) {
    return sheet !== window.velunorReadingSheet;
});
if (!inLibrary) { document.adoptedStyleSheets = others; return; }
var sheet = window.velunorReadingSheet || new CSSStyleSheet();
sheet.replaceSync(%2);
window.velunorReadingSheet = sheet;
document.adoptedStyleSheets = others.concat([sheet]);
})())js")
        .arg(InLibraryExpression(libraryFolder), JavaScriptString(styleSheet));
}

// Sites write a chapter either as paragraphs or as lines with line breaks between them, each
// line led by spaces of their own choosing. The block's direct children are gathered into runs
// between breaks and block elements; each run with something to show becomes a paragraph.
// Pages written before the text block had its id keep the text in the block of class "text".
QString ChapterParagraphScript(const QString& libraryFolder) {
    return QStringLiteral(R"js((function(){
if (!%1) { return; }
var block = document.getElementById('chapter_text') || document.querySelector('div.text');
if (block === null) { return; }
var blank = /^[\s\u00a0\u3000]*$/;
var lead = /^[\s\u00a0\u3000]+/;
var blockTags = /^(P|DIV|TABLE|UL|OL|DL|H[1-6]|BLOCKQUOTE|PRE|HR|CENTER|SECTION|ARTICLE|FIGURE)$/;
function isElement(node, pattern) {
    return node.nodeType === 1 && pattern.test(node.tagName);
}
function showsSomething(node) {
    if (node.nodeType === 3) { return !blank.test(node.data); }
    if (node.nodeType !== 1) { return false; }
    return node.tagName === 'IMG' || node.querySelector('img') !== null ||
           !blank.test(node.textContent);
}
function takeLead(paragraph) {
    var walker = document.createTreeWalker(paragraph, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT);
    for (var node = walker.nextNode(); node !== null; node = walker.nextNode()) {
        if (node.nodeType === 1) {
            if (node.tagName === 'IMG' || node.tagName === 'BR') { return; }
            continue;
        }
        var rest = node.data.replace(lead, '');
        node.data = rest;
        if (rest.length > 0) { return; }
    }
}
function finish(paragraph) {
    takeLead(paragraph);
    if (blank.test(paragraph.textContent) && paragraph.querySelector('img') !== null) {
        paragraph.classList.add('picture');
    }
}
var run = [];
function closeRun() {
    if (run.some(showsSomething)) {
        var paragraph = document.createElement('p');
        block.insertBefore(paragraph, run[0]);
        run.forEach(function(node) { paragraph.appendChild(node); });
        finish(paragraph);
    }
    run = [];
}
Array.prototype.slice.call(block.childNodes).forEach(function(node) {
    if (isElement(node, /^BR$/)) {
        closeRun();
        block.removeChild(node);
    } else if (isElement(node, blockTags)) {
        closeRun();
        if (node.tagName === 'P') { finish(node); }
    } else {
        run.push(node);
    }
});
closeRun();
})())js")
        .arg(InLibraryExpression(libraryFolder));
}

QString LinkAddressScript(const QString& text) {
    return QStringLiteral(R"js((function(){
var wanted = %1;
var links = document.links;
for (var i = 0; i < links.length; ++i) {
    if (links[i].textContent.trim() === wanted) { return links[i].href; }
}
return '';
})())js")
        .arg(JavaScriptString(text));
}

QString ScrollToFractionScript(double fraction) {
    return QStringLiteral(R"js((function(fraction){
var root = document.scrollingElement || document.documentElement;
if (root === null) { return 0; }
window.scrollTo(0, Math.round(fraction * Math.max(0, root.scrollHeight - window.innerHeight)));
return window.scrollY;
})(%1))js")
        .arg(fraction, 0, 'f', 6);
}

QString TextInViewScript(int length) {
    return QStringLiteral(R"js((function(length){
var block = document.getElementById('chapter_text') || document.querySelector('div.text');
if (block === null) { return ''; }
var parts = block.querySelectorAll('p');
for (var i = 0; i < parts.length; ++i) {
    var box = parts[i].getBoundingClientRect();
    var text = parts[i].textContent.trim();
    if (box.bottom > 0 && text.length > 0) { return text.substring(0, length); }
}
return block.textContent.trim().substring(0, length);
})(%1))js")
        .arg(length);
}

// A line of overlap lets the eye find its place again after the jump.
QString ScrollPageDownScript() {
    return QStringLiteral(R"js((function(){
var root = document.scrollingElement || document.documentElement;
if (root === null || window.scrollY + window.innerHeight >= root.scrollHeight - 2) { return false; }
window.scrollBy(0, Math.max(window.innerHeight - 40, window.innerHeight * 0.8));
return true;
})())js");
}

} // namespace velunor
