#pragma once
// XML DOM facade: the operations the program needs of an XML document, with
// the behaviour the program relies on. One implementation (pugixml) today;
// the header names no XML library, so that another DOM can take its place.
//
// Texts are UTF-8 throughout. Parsing never fetches anything from outside and
// never validates: a document-type declaration is kept as text, entities other
// than the five predefined ones and character references are not expanded
// (an unknown reference such as "&e;" stays in the text as it is written).
// Text made only of white space between elements is dropped when parsing.
//
// Serialised form (`xml()` and `save`), fixed because files are compared byte
// for byte: UTF-8 without byte-order mark, lines ending in LF ("\n"). Every
// top-level node (the XML declaration, the document-type declaration,
// comments, the root element) starts a line, and the text ends with a line
// end. Inside, each child element goes on a line of its own, indented by one
// TAB per level; an element holding only text is written on one line
// ("<a>text</a>", the text as it is, line breaks included); an element without
// content is written "<a/>". An element holding text and elements together is
// written without added line breaks or TABs, so no text changes. In text "&",
// "<" and ">" are escaped; in attribute values "&", "<" and '"'; other
// characters below 32 as "&#N;" (in attribute values TAB, CR and LF as well).
// A skeleton
//   <?xml version="1.0" encoding="UTF-8" standalone="no"?><!DOCTYPE r SYSTEM "r.dtd"><r />
// with <a>x</a> and an empty <b/> appended to its root is saved as
//   <?xml version="1.0" encoding="UTF-8" standalone="no"?>\n
//   <!DOCTYPE r SYSTEM "r.dtd">\n
//   <r>\n
//   \t<a>x</a>\n
//   \t<b/>\n
//   </r>\n
// White space between elements is dropped when parsing, so a saved document
// loads and saves again to the same bytes. A declaration naming another
// encoding is written naming "UTF-8", since the bytes written are UTF-8. A
// document without a declaration gets none.
//
// Handles have reference semantics, as the platform's DOM objects do: an
// XmlNode keeps the storage of its document alive, so a node stays usable
// after its XmlDocument is gone or has loaded another text. Operations that
// the DOM refuses (a null node, an invalid name, an invalid XPath, a second
// root element, a node appended into itself) raise kvt::Error.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace kvt {

namespace detail {
struct XmlStorage;
struct XmlNodeRef;
}  // namespace detail

class XmlDocument;

// A node of a document: an element (also one made by createElement and not
// yet appended), or an attribute, text or other node picked by XPath. Cheap to
// copy; default-constructed it is the null node ("nothing").
class XmlNode {
  public:
    XmlNode() = default;

    bool isNull() const { return node_ == nullptr && attribute_ == nullptr; }
    explicit operator bool() const { return !isNull(); }
    // The same node of the same document.
    bool operator==(const XmlNode& other) const {
        return node_ == other.node_ && attribute_ == other.attribute_;
    }

    // Appends the node as the last child of this element and returns it. A
    // node of the same document is moved (the handle stays valid, the node
    // leaves its former place). A node of another document (or of this one
    // before it loaded another text) is copied deeply into this document and
    // the copy is returned; the copy does not depend on the source document.
    XmlNode appendChild(const XmlNode& child);
    // Sets one attribute of this element, creating it when missing.
    void setAttribute(std::string_view name, std::string_view value);
    // The text of the node: for an element the concatenated text of all its
    // descendant text and CDATA nodes in document order, without leading and
    // trailing white space (so white space alone reads as empty); for an
    // attribute its value.
    std::string text() const;
    // Replaces the element's content by one text node (no content when the
    // text is empty); for an attribute, sets its value.
    void setText(std::string_view text);
    // The first node, in document order, that the XPath 1.0 expression selects
    // with this node as context; the null node when there is none. Raises
    // kvt::Error when the expression is invalid or does not select nodes.
    XmlNode selectSingleNode(std::string_view xpath) const;
    // The node serialised as a document's root would be, without a final line
    // end; an attribute as name="value".
    std::string xml() const;

  private:
    friend class XmlDocument;
    friend struct detail::XmlNodeRef;

    std::shared_ptr<detail::XmlStorage> storage_;
    void* node_ = nullptr;       // the element (or other node), or the attribute's owner
    void* attribute_ = nullptr;  // set when the node is an attribute
};

// What the last load or loadXML found wrong; errorCode 0 when it succeeded
// (and before any load).
struct XmlParseError {
    // Non-zero after a failed load: 1 file not found, 2 file not readable,
    // 3..16 the parser's error kinds (text outside the root element is "bad
    // text"), 100 more than one root element, and the limits set by
    // setProperty: 101 larger than MaxXMLSize, 102 a document-type declaration
    // under ProhibitDTD, 103 deeper than MaxElementDepth, 104 a reference to
    // an undeclared entity under ProhibitDTD.
    long errorCode = 0;
    // A readable Italian description, with line and column of the error when
    // it is in the text, for example
    // "Il tag di chiusura non corrisponde a quello di apertura (riga 1, colonna 9)".
    std::string reason;
    long line = 0;     // 1-based; 0 when the error is not in the text
    long linepos = 0;  // 1-based byte column in the line
    long filepos = 0;  // 0-based byte offset in the text
};

// An XML document. Both class identifiers the program names
// ("MSXML2.DOMDocument", "MSXML2.DOMDocument.3.0") are this class. Movable,
// not copyable (copy a document by loadXML of its xml()).
class XmlDocument {
  public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // A second handle on this same document, with settings of its own: the
    // elements it creates belong to this document, so appending them here
    // moves them instead of copying them. A later load into either handle
    // gives that handle a new document and leaves the other as it was.
    XmlDocument sharedHandle() const;

    // Settings kept as the program sets them. Loading is always synchronous,
    // never validates and never resolves external entities, whatever they say.
    void setAsync(bool value) { async_ = value; }
    bool async() const { return async_; }
    void setValidateOnParse(bool value) { validateOnParse_ = value; }
    bool validateOnParse() const { return validateOnParse_; }
    void setResolveExternals(bool value) { resolveExternals_ = value; }
    bool resolveExternals() const { return resolveExternals_; }

    // "SelectionLanguage" accepts "XPath" and "XSLPattern" (selection is XPath
    // 1.0 either way; the paths the program uses mean the same in both).
    // Limits for texts from outside, applied by the next load (none by default):
    // "ProhibitDTD" "true" or "false": a document-type declaration, and then
    //   any reference to an entity other than the five predefined ones and
    //   character references, makes the text fail to load;
    // "MaxXMLSize": the largest text loaded, in KiB (decimal; "0" no limit);
    // "MaxElementDepth": the deepest nesting of elements ("0" no limit).
    // Any other property or value raises kvt::Error.
    void setProperty(std::string_view name, std::string_view value);
    std::string getProperty(std::string_view name) const;

    // Parses a file (encoding from its byte-order mark or declaration; UTF-8
    // by default). False on failure, with parseError() telling why; the
    // document is then empty. Handles taken before stay valid (they keep the
    // previous content alive) but are no longer part of this document.
    bool load(const std::filesystem::path& path);
    // Parses a text (UTF-8; a declared encoding is not looked at). As load.
    bool loadXML(std::string_view text);
    const XmlParseError& parseError() const { return parseError_; }

    // The document serialised (see the top of this header); empty when the
    // document is empty.
    std::string xml() const;
    // Writes xml() to the file, replacing it atomically (a new file is
    // readable by its owner only). Raises kvt::Error on failure.
    void save(const std::filesystem::path& path) const;

    // The root element, or the null node.
    XmlNode documentElement() const;
    // A new element of this document, not yet in its tree.
    XmlNode createElement(std::string_view name);
    // Makes the element the root element (moved or copied as
    // XmlNode::appendChild); raises when the document already has another one.
    XmlNode appendChild(const XmlNode& child);
    // As XmlNode::selectSingleNode, with the document as context.
    XmlNode selectSingleNode(std::string_view xpath) const;

  private:
    detail::XmlStorage& storage() const;
    bool parse(std::string_view text, bool detectEncoding);
    // Records the failure (located in the text when offset is not negative),
    // empties the document and gives false.
    bool refuse(long code, std::string reason, std::string_view text, std::ptrdiff_t offset);
    bool tooLarge(std::size_t size) const;

    mutable std::shared_ptr<detail::XmlStorage> storage_;
    bool async_ = true;
    bool validateOnParse_ = true;
    bool resolveExternals_ = true;
    std::string selectionLanguage_ = "XSLPattern";
    bool prohibitDtd_ = false;
    std::size_t maxXmlSizeKiB_ = 0;
    std::size_t maxElementDepth_ = 0;
    XmlParseError parseError_;
};

}  // namespace kvt
