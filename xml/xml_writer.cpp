#include "xml/xml_writer.h"

#include <string_view>

namespace pelk::text {
namespace {

class Writer {
 public:
  Writer(const XmlWriteOptions& options, XmlEscaping escaping, std::string* out)
      : options_(options), escaping_(escaping), out_(out) {}

  void Element(const XmlElement& element, int level) {
    Indent(level);
    out_->push_back('<');
    out_->append(element.name);
    for (const XmlAttribute& attribute : element.attributes) {
      out_->push_back(' ');
      out_->append(attribute.name);
      out_->append("=\"");
      Escape(attribute.value, /*attribute=*/true);
      out_->push_back('"');
    }
    out_->push_back('>');
    if (element.children.empty()) {
      if (element.text) Escape(*element.text, /*attribute=*/false);
    } else {
      LineFeed();
      if (element.text) {
        Indent(level + 1);
        Escape(*element.text, /*attribute=*/false);
        LineFeed();
      }
      for (const auto& child : element.children) Element(*child, level + 1);
      Indent(level);
    }
    out_->append("</");
    out_->append(element.name);
    out_->push_back('>');
    LineFeed();
  }

 private:
  void Indent(int level) {
    if (options_.indent) out_->append(static_cast<size_t>(level) * 2, ' ');
  }
  void LineFeed() {
    if (options_.line_feeds) out_->push_back('\n');
  }

  void Escape(std::string_view s, bool attribute) {
    const bool query = escaping_ == XmlEscaping::kQuery;
    for (char c : s) {
      switch (c) {
        case '&':
          out_->append("&amp;");
          break;
        case '<':
          out_->append("&lt;");
          break;
        case '>':
          query ? out_->append("&gt;") : out_->append(1, c);
          break;
        case '"':
          query || attribute ? out_->append("&quot;") : out_->append(1, c);
          break;
        case '\'':
          query || attribute ? out_->append("&apos;") : out_->append(1, c);
          break;
        default:
          out_->push_back(c);
      }
    }
  }

  const XmlWriteOptions& options_;
  XmlEscaping escaping_;
  std::string* out_;
};

}  // namespace

void WriteXml(const XmlElement& root, const XmlWriteOptions& options, XmlEscaping escaping,
              std::string* out) {
  if (options.declaration) out->append("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n");
  Writer(options, escaping, out).Element(root, 0);
}

}  // namespace pelk::text
