// The SVG writer of the charts: markup escaped, and every text laid out by an estimate of its
// width so that no two texts of a chart overlap (a text that would overlap one already there
// is moved to its next place, or left out).
#ifndef ZEBCLI_CHARTS_SVG_H
#define ZEBCLI_CHARTS_SVG_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zebcli::charts {

// Text for XML and HTML: valid UTF-8 (other bytes read as Latin-1), markup characters and
// quotes escaped, control characters (not allowed in XML) replaced by '?'.
std::string Xml(std::string_view text);

// printf into a string, whole however long (a curve's points can run to many kilobytes).
template <typename... Values> std::string Format(const char* format, Values... values) {
    char text[512];
    const int n = std::snprintf(text, sizeof text, format, values...);
    if (n < 0) {
        return {};
    }
    if (static_cast<std::size_t>(n) < sizeof text) {
        return text;
    }
    std::string whole(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(whole.data(), whole.size(), format, values...);
    whole.resize(static_cast<std::size_t>(n));
    return whole;
}

// The width of text at a font size in the charts' sans-serif font, estimated from above.
double TextWidth(std::string_view text, double fontSize);

// text cut (at a character, with "...") to at most width at fontSize.
std::string Shortened(std::string_view text, double fontSize, double width);

struct Box {
    double x = 0, y = 0, width = 0, height = 0;
    bool Intersects(const Box& other) const;
    bool Inside(const Box& other) const;
};

enum class Anchor { Start, Middle, End };

struct TextStyle {
    double size = 13;
    Anchor anchor = Anchor::Start;
    const char* colour = "#222";
    bool bold = false;
    int rotate = 0; // 0, 90 or -90 degrees about (x, y)
};

// Where a text may go: its anchor point (x, baseline y).
struct Place {
    double x, y;
};

// The box a text takes when drawn at place in style.
Box TextBox(Place place, std::string_view text, const TextStyle& style);

// One chart: an SVG fragment in its own coordinates (0..width, 0..height), with the boxes of
// every text drawn in it.
class Canvas {
  public:
    Canvas(double width, double height);
    double Width() const { return width_; }
    double Height() const { return height_; }

    // Draws text at the first of places where it stays on the canvas and overlaps no text
    // already drawn (an area kept free counts as text); false when none is free and the text
    // was left out.
    bool Text(std::string_view text, const TextStyle& style, std::initializer_list<Place> places);
    bool Text(std::string_view text, const TextStyle& style, const std::vector<Place>& places);
    // Keeps an area free of texts drawn from now on (a legend's symbols, a mark).
    void Reserve(const Box& box) { boxes_.push_back(box); }
    // Markup drawn as it is (lines, shapes: no text).
    void Raw(std::string_view markup) { body_ += markup; }

    const std::vector<Box>& TextBoxes() const { return texts_; }
    // The fragment as a group translated to (x, y).
    std::string Group(double x, double y) const;
    // The fragment as an SVG element: standalone, a document of its own (the XML declaration
    // and the namespace); else for inlining in HTML.
    std::string Document(std::string_view title, bool standalone) const;

  private:
    double width_, height_;
    std::string body_;
    std::vector<Box> boxes_; // texts and reserved areas
    std::vector<Box> texts_; // texts only
};

} // namespace zebcli::charts

#endif
