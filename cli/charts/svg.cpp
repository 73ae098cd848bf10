#include "charts/svg.h"

#include "textutil.h"

#include <algorithm>

namespace zebcli::charts {

namespace {

constexpr double kAscent = 0.95; // of the font size, above the baseline
constexpr double kDescent = 0.3; // below it

// The advance of one character in em of DejaVu Sans, rounded up; Arial is narrower.
double Advance(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return 0.64;
    }
    switch (c) {
    case ' ':
    case '.':
    case ',':
    case ':':
    case ';':
    case '\'':
    case '!':
    case '|':
    case 'i':
    case 'j':
    case 'l':
    case 'I':
        return 0.34;
    case 'f':
    case 't':
    case 'r':
    case '(':
    case ')':
    case '[':
    case ']':
    case '/':
    case '-':
        return 0.42;
    case 'm':
    case 'w':
    case 'M':
    case 'W':
    case '%':
    case '@':
        return 1.0;
    default:
        break;
    }
    if (c >= 'A' && c <= 'Z') {
        return 0.78;
    }
    return c >= 0x80 ? 1.0 : 0.64; // a character beyond ASCII: its lead byte counts, as wide
}

} // namespace

std::string Xml(std::string_view text) {
    std::string out;
    for (char c : BoardUtf8(text)) {
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
            out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        }
    }
    return out;
}

double TextWidth(std::string_view text, double fontSize) {
    double em = 0;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) { // continuation bytes add nothing
            em += Advance(byte);
        }
    }
    return em * fontSize;
}

std::string Shortened(std::string_view text, double fontSize, double width) {
    if (TextWidth(text, fontSize) <= width) {
        return std::string(text);
    }
    const double room = width - TextWidth("...", fontSize);
    double used = 0;
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80) {
            continue;
        }
        used += TextWidth(text.substr(i, 1), fontSize);
        if (used > room) {
            break;
        }
        end = i + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
    }
    return std::string(text.substr(0, end)) + "...";
}

bool Box::Intersects(const Box& other) const {
    return x < other.x + other.width && other.x < x + width && y < other.y + other.height &&
           other.y < y + height;
}

bool Box::Inside(const Box& other) const {
    return x >= other.x && y >= other.y && x + width <= other.x + other.width &&
           y + height <= other.y + other.height;
}

Box TextBox(Place place, std::string_view text, const TextStyle& style) {
    const double width = TextWidth(text, style.size) * (style.bold ? 1.1 : 1.0);
    // Along the text, from the anchor: [from, to]; across it: [-ascent, descent].
    const double from =
        style.anchor == Anchor::Start ? 0 : (style.anchor == Anchor::Middle ? -width / 2 : -width);
    const double to = from + width;
    const double above = kAscent * style.size;
    const double below = kDescent * style.size;
    if (style.rotate == -90) { // reads upwards
        return {place.x - above, place.y - to, above + below, width};
    }
    if (style.rotate == 90) { // reads downwards
        return {place.x - below, place.y + from, above + below, width};
    }
    return {place.x + from, place.y - above, width, above + below};
}

Canvas::Canvas(double width, double height) : width_(width), height_(height) {}

bool Canvas::Text(std::string_view text, const TextStyle& style,
                  std::initializer_list<Place> places) {
    return Text(text, style, std::vector<Place>(places));
}

bool Canvas::Text(std::string_view text, const TextStyle& style, const std::vector<Place>& places) {
    const Box whole{0, 0, width_, height_};
    for (const Place& place : places) {
        const Box box = TextBox(place, text, style);
        if (!box.Inside(whole) || std::any_of(boxes_.begin(), boxes_.end(), [&](const Box& taken) {
                return taken.Intersects(box);
            })) {
            continue;
        }
        boxes_.push_back(box);
        texts_.push_back(box);
        const char* anchor = style.anchor == Anchor::Start
                                 ? "start"
                                 : (style.anchor == Anchor::Middle ? "middle" : "end");
        const std::string attributes =
            Format(" text-anchor=\"%s\" font-size=\"%g\" fill=\"%s\"%s", anchor, style.size,
                   style.colour, style.bold ? " font-weight=\"bold\"" : "");
        if (style.rotate != 0) {
            body_ += Format("<text transform=\"translate(%.1f %.1f) rotate(%d)\"%s>", place.x,
                            place.y, style.rotate, attributes.c_str());
        } else {
            body_ += Format("<text x=\"%.1f\" y=\"%.1f\"%s>", place.x, place.y, attributes.c_str());
        }
        body_ += Xml(text) + "</text>\n";
        return true;
    }
    return false;
}

std::string Canvas::Group(double x, double y) const {
    return Format("<g transform=\"translate(%g %g)\">\n", x, y) + body_ + "</g>\n";
}

std::string Canvas::Document(std::string_view title, bool standalone) const {
    std::string svg = standalone ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    // Inside HTML the SVG element needs no namespace (and the page then names no address).
    svg += Format("<svg%s width=\"%g\" height=\"%g\" viewBox=\"0 0 %g %g\" role=\"img\" "
                  "font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n",
                  standalone ? " xmlns=\"http://www.w3.org/2000/svg\"" : "", width_, height_,
                  width_, height_);
    svg += "<title>" + Xml(title) + "</title>\n";
    svg += Format("<rect width=\"%g\" height=\"%g\" fill=\"white\"/>\n", width_, height_);
    return svg + body_ + "</svg>\n";
}

} // namespace zebcli::charts
