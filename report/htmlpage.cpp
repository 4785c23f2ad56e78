#include "report/htmlpage.h"

#include <stdexcept>

#include "report/pngencode.h"

namespace daxo::report {

namespace {

const char* const kStyle = R"(
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1100px; color: #222; background: #fff; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.5em 0; }
td { padding: 2px 12px 2px 0; vertical-align: top; } td:first-child { color: #555; }
figure { margin: 0.8em 0; } figcaption { font-size: 0.9em; color: #444; margin-bottom: 0.3em; }
img { display: block; max-width: 100%; image-rendering: pixelated; }
.alternating { position: relative; display: inline-block; }
.alternating img.second { position: absolute; left: 0; top: 0; animation: alternate 1.2s steps(1) infinite; }
@keyframes alternate { 0% { opacity: 0; } 50% { opacity: 1; } }
.bar { display: inline-block; } .bar .labels { display: flex; justify-content: space-between; font-size: 0.85em; }
.verdict { font-weight: bold; }
.printed { display: none; }
@media print {
  body { max-width: none; }
  .alternating { display: flex; gap: 6px; }
  .alternating img { max-width: 49.5%; height: auto; }
  .alternating img.second { position: static; animation: none; opacity: 1; }
  .printed { display: block; font-size: 0.85em; color: #444; }
}
)";

std::string img(const RgbImage& picture, const std::string& cssClass = "") {
  return "<img" + (cssClass.empty() ? std::string() : " class=\"" + cssClass + "\"") + " width=\"" +
         std::to_string(picture.width()) + "\" height=\"" + std::to_string(picture.height()) + "\" src=\"" +
         pngDataUri(picture) + "\" alt=\"\">";
}

const std::string kSummaryStart = "<!-- summary -->\n";
const std::string kSummaryEnd = "<!-- /summary -->\n";

}  // namespace

std::vector<std::string> summariesIn(const std::string& html) {
  std::vector<std::string> summaries;
  for (size_t at = html.find(kSummaryStart); at != std::string::npos; at = html.find(kSummaryStart, at)) {
    const size_t begin = at + kSummaryStart.size();
    const size_t end = html.find(kSummaryEnd, begin);
    if (end == std::string::npos) break;
    summaries.push_back(html.substr(begin, end - begin));
    at = end + kSummaryEnd.size();
  }
  return summaries;
}

std::string escapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

HtmlPage::HtmlPage(std::string title) : title_(std::move(title)) {}

void HtmlPage::heading(const std::string& text) { body_ += "<h2>" + escapeHtml(text) + "</h2>\n"; }

void HtmlPage::paragraph(const std::string& text) { body_ += "<p>" + escapeHtml(text) + "</p>\n"; }

void HtmlPage::table(const Rows& rows) {
  body_ += "<table>\n";
  for (const auto& [name, value] : rows) {
    body_ += "<tr><td>" + escapeHtml(name) + "</td><td>" + escapeHtml(value) + "</td></tr>\n";
  }
  body_ += "</table>\n";
}

void HtmlPage::figure(const std::string& caption, const RgbImage& picture) {
  body_ += "<figure><figcaption>" + escapeHtml(caption) + "</figcaption>" + img(picture) + "</figure>\n";
}

void HtmlPage::alternating(const std::string& caption, const RgbImage& first, const RgbImage& second) {
  if (first.width() != second.width() || first.height() != second.height()) {
    throw std::invalid_argument("alternating pictures of different sizes");
  }
  body_ += "<figure><figcaption>" + escapeHtml(caption) + "</figcaption><div class=\"alternating\">" + img(first) +
           img(second, "second") +
           "</div><div class=\"printed\">Printed: the first picture on the left, the second on the right.</div>"
           "</figure>\n";
}

void HtmlPage::link(const std::string& text, const std::string& href) {
  body_ += "<p><a href=\"" + escapeHtml(href) + "\">" + escapeHtml(text) + "</a></p>\n";
}

void HtmlPage::beginSummary() { body_ += kSummaryStart; }

void HtmlPage::endSummary() { body_ += kSummaryEnd; }

void HtmlPage::raw(const std::string& html) { body_ += html; }

void HtmlPage::colourBar(const std::string& caption, const RgbImage& bar, const std::string& low,
                         const std::string& middle, const std::string& high) {
  body_ += "<figure><figcaption>" + escapeHtml(caption) +
           "</figcaption><div class=\"bar\" style=\"width:" + std::to_string(bar.width()) + "px\">" + img(bar) +
           "<div class=\"labels\"><span>" + escapeHtml(low) + "</span><span>" + escapeHtml(middle) + "</span><span>" +
           escapeHtml(high) + "</span></div></div></figure>\n";
}

void HtmlPage::arrow(const std::string& direction, const std::string& label) {
  int angle = 0;  // the arrow is drawn pointing right, then turned
  if (direction == "down") {
    angle = 90;
  } else if (direction == "left") {
    angle = 180;
  } else if (direction == "up") {
    angle = 270;
  } else if (direction != "right") {
    throw std::invalid_argument("an arrow pointing " + direction);
  }
  body_ +=
      "<p><svg width=\"40\" height=\"40\" viewBox=\"-20 -20 40 40\" style=\"vertical-align:middle\">"
      "<g transform=\"rotate(" +
      std::to_string(angle) +
      ")\"><line x1=\"-15\" y1=\"0\" x2=\"9\" y2=\"0\" stroke=\"#c00\" stroke-width=\"3\"/>"
      "<polygon points=\"16,0 6,-7 6,7\" fill=\"#c00\"/></g></svg> " +
      escapeHtml(label) + "</p>\n";
}

std::string HtmlPage::html() const {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + escapeHtml(title_) +
         "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + escapeHtml(title_) + "</h1>\n" + body_ +
         "</body>\n</html>\n";
}

}  // namespace daxo::report
