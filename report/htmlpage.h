#pragma once

#include <string>
#include <utility>
#include <vector>

#include "report/rgbimage.h"

// A self-contained HTML page: pictures are embedded as PNG data, styles are
// inline CSS, and nothing needs a script or the network. Texts given to it
// are escaped.

namespace daxo::report {

using Rows = std::vector<std::pair<std::string, std::string>>;

class HtmlPage {
 public:
  explicit HtmlPage(std::string title);

  void heading(const std::string& text);
  void paragraph(const std::string& text);
  // A two-column table of names and values.
  void table(const Rows& rows);
  void figure(const std::string& caption, const RgbImage& picture);
  // Two pictures of the same size shown in turn, about once a second (CSS
  // animation), so that moving edges catch the eye; printed, side by side
  // (the first on the left), since paper cannot show them in turn.
  void alternating(const std::string& caption, const RgbImage& first, const RgbImage& second);
  // A link to `href` (a relative address, as given) with `text`.
  void link(const std::string& text, const std::string& href);
  // The summary of a page is what the pages above it copy (summariesIn):
  // the body added between these calls. Summaries do not nest.
  void beginSummary();
  void endSummary();
  // A piece of HTML as it is, such as a summary of another page.
  void raw(const std::string& html);
  // The colour map as a bar with labels under its ends and its middle.
  void colourBar(const std::string& caption, const RgbImage& bar, const std::string& low, const std::string& middle,
                 const std::string& high);
  // An arrow pointing `direction` ("up", "down", "left" or "right") with a
  // label, drawn in SVG.
  void arrow(const std::string& direction, const std::string& label);

  // The whole page.
  std::string html() const;
  // What was added to it, to go into another page (raw).
  const std::string& body() const { return body_; }

 private:
  std::string title_;
  std::string body_;
};

// The summaries of a page made by HtmlPage, in page order.
std::vector<std::string> summariesIn(const std::string& html);

// &, <, >, " and ' as entities.
std::string escapeHtml(const std::string& text);

}  // namespace daxo::report
