// The XML DOM facade over pugixml.
//
// pugixml has no detached nodes: every node lives in a document's tree. An
// element made by createElement therefore waits in a holder element that is
// the last child of the document node, and is moved out of it when appended.
// The holder is never serialised, never the root element, and never a result
// of a selection made from the tree: being the last child of the document, it
// follows every node of the tree in document order, so when the first match
// lies in it, the tree has none.
#include "common/xml_document.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include "common/errors.h"
#include "common/files.h"
#include "common/utf.h"

namespace kvt {
namespace detail {

struct XmlStorage {
    pugi::xml_document document;
    pugi::xml_node holder;  // created on first use

    pugi::xml_node detachedHolder() {
        if (!holder) {
            holder = document.append_child(pugi::node_element);
        }
        return holder;
    }
    bool isDetached(pugi::xml_node node) const {
        if (!holder) {
            return false;
        }
        for (; node; node = node.parent()) {
            if (node == holder) {
                return true;
            }
        }
        return false;
    }
    pugi::xml_node rootElement() const {
        for (pugi::xml_node child : document.children()) {
            if (child.type() == pugi::node_element && child != holder) {
                return child;
            }
        }
        return {};
    }
};

struct XmlNodeRef {
    static XmlNode make(const std::shared_ptr<XmlStorage>& storage, pugi::xml_node node,
                        pugi::xml_attribute attribute = {}) {
        XmlNode out;
        if (node || attribute) {
            out.storage_ = storage;
            out.node_ = node.internal_object();
            out.attribute_ = attribute.internal_object();
        }
        return out;
    }
    static pugi::xml_node node(const XmlNode& n) {
        return pugi::xml_node(static_cast<pugi::xml_node_struct*>(n.node_));
    }
    static pugi::xml_attribute attribute(const XmlNode& n) {
        return pugi::xml_attribute(static_cast<pugi::xml_attribute_struct*>(n.attribute_));
    }
    static const std::shared_ptr<XmlStorage>& storage(const XmlNode& n) { return n.storage_; }
};

}  // namespace detail

namespace {

using detail::XmlNodeRef;
using detail::XmlStorage;

// As a fragment, pugixml keeps text outside the root element as nodes, which
// the load then refuses; as a document it would drop that text silently, and
// a text that is not well-formed would load.
constexpr unsigned kParseFlags = pugi::parse_full | pugi::parse_fragment;
constexpr long kMoreThanOneRoot = 100;
constexpr long kTooLarge = 101;
constexpr long kDtdProhibited = 102;
constexpr long kTooDeep = 103;
constexpr long kUndeclaredEntity = 104;

// A limit of setProperty: a decimal whole number, at most nine digits.
std::size_t readLimit(std::string_view name, std::string_view value) {
    std::size_t limit = 0;
    const bool digits =
        !value.empty() && value.size() <= 9 &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) {
        throw Error("Valore non valido per " + std::string(name) + ": " + std::string(value));
    }
    for (const char c : value) {
        limit = limit * 10 + static_cast<std::size_t>(c - '0');
    }
    return limit;
}

// The offset of the first "&" in the text that starts neither a predefined
// entity nor a character reference (comments, CDATA sections and processing
// instructions aside); npos when there is none. Without a document type no
// other entity is declared, so such a reference leaves the text not
// well-formed.
std::size_t undeclaredReference(std::string_view text) {
    struct Skipped {
        std::string_view open;
        std::string_view close;
    };
    static constexpr Skipped kSkipped[] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    static constexpr std::string_view kPredefined[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};
    std::size_t i = 0;
    while ((i = text.find_first_of("<&", i)) != std::string_view::npos) {
        const std::string_view rest = text.substr(i + 1);
        if (text[i] == '<') {
            const auto skipped =
                std::find_if(std::begin(kSkipped), std::end(kSkipped),
                             [&](const Skipped& s) { return text.substr(i).starts_with(s.open); });
            if (skipped == std::end(kSkipped)) {
                ++i;
                continue;
            }
            const std::size_t close = text.find(skipped->close, i + skipped->open.size());
            if (close == std::string_view::npos) {
                return std::string_view::npos;  // the parser has refused it already
            }
            i = close + skipped->close.size();
            continue;
        }
        const bool known =
            rest.starts_with('#') ||
            std::any_of(std::begin(kPredefined), std::end(kPredefined),
                        [&](std::string_view name) { return rest.starts_with(name); });
        if (!known) {
            return i;
        }
        ++i;
    }
    return std::string_view::npos;
}

// The first element nested deeper than the limit, or the null node; walked
// without recursion, so that no nesting can exhaust the stack.
pugi::xml_node tooDeep(const pugi::xml_document& document, std::size_t limit) {
    std::size_t depth = 0;
    pugi::xml_node node = document.first_child();
    while (node) {
        if (node.type() == pugi::node_element && depth + 1 > limit) {
            return node;
        }
        if (node.type() == pugi::node_element && node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            if (node.type() == pugi::node_document) {
                return {};
            }
            --depth;
        }
        node = node.next_sibling();
    }
    return {};
}

constexpr bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

constexpr bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Every element the record makes has its name checked: a table per byte
// keeps that to one look-up a character.
struct NameTable {
    bool start[256];
    bool inside[256];
    constexpr NameTable() : start(), inside() {
        for (int c = 0; c < 256; ++c) {
            start[c] = isNameStart(static_cast<unsigned char>(c));
            inside[c] = isNameChar(static_cast<unsigned char>(c));
        }
    }
};
constexpr NameTable kNames;

void requireName(std::string_view name, const char* what) {
    bool valid = !name.empty() && kNames.start[static_cast<unsigned char>(name.front())];
    for (std::size_t i = 1; valid && i < name.size(); ++i) {
        valid = kNames.inside[static_cast<unsigned char>(name[i])];
    }
    if (!valid) {
        throw Error(std::string("Nome di ") + what + " non valido: \"" + std::string(name) + "\"");
    }
}

// pugixml takes names and values as zero-terminated texts: they are copied
// into a buffer kept per thread (one per argument position), which saves an
// allocation for every element, text and attribute the record makes.
template <int Slot>
const char* zeroTerminated(std::string_view text) {
    thread_local std::string buffer;
    buffer.assign(text);
    return buffer.c_str();
}

bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trimXmlSpace(std::string text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isXmlSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isXmlSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

void appendCharacterReference(std::string& out, unsigned char c) {
    out += "&#";
    out += std::to_string(c);
    out += ';';
}

// Appends the text with the characters that `escape` names replaced; the
// runs between them go in whole, not one character at a time.
template <class Escape>
void appendEscaped(std::string& out, std::string_view text, Escape escape) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const char* replacement = escape(byte);
        if (replacement == nullptr) {
            continue;
        }
        out.append(text.data() + run, i - run);
        if (*replacement != '\0') {
            out += replacement;
        } else {
            appendCharacterReference(out, byte);
        }
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

// nullptr: written as it is; "": written as a character reference.
const char* textEscape(unsigned char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '\t':
        case '\r':
        case '\n':
            return nullptr;
        default:
            return c < 32 ? "" : nullptr;
    }
}

const char* attributeEscape(unsigned char c) {
    switch (c) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '"':
            return "&quot;";
        default:
            return c < 32 ? "" : nullptr;
    }
}

void appendEscapedText(std::string& out, std::string_view text) {
    appendEscaped(out, text, textEscape);
}

void appendEscapedAttribute(std::string& out, std::string_view value) {
    appendEscaped(out, value, attributeEscape);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

// The declaration as written: the bytes are UTF-8, so is the declared encoding.
void appendDeclaration(std::string& out, pugi::xml_node declaration) {
    out += "<?xml";
    for (pugi::xml_attribute attribute : declaration.attributes()) {
        std::string_view value = attribute.value();
        if (std::strcmp(attribute.name(), "encoding") == 0 && !equalsIgnoringCase(value, "UTF-8") &&
            !equalsIgnoringCase(value, "UTF8")) {
            value = "UTF-8";
        }
        out += ' ';
        out += attribute.name();
        out += "=\"";
        appendEscapedAttribute(out, value);
        out += '"';
    }
    out += "?>";
}

bool isText(pugi::xml_node node) {
    const pugi::xml_node_type type = node.type();
    return type == pugi::node_pcdata || type == pugi::node_cdata;
}

// Hands the text written so far to a file and empties it, so that saving a
// large document never holds the whole of its text.
using Flush = std::function<void(std::string&)>;
constexpr std::size_t kFlushSize = 1 << 20;

void appendNode(std::string& out, pugi::xml_node node, int depth, bool indent,
                const Flush* flush = nullptr);

void appendStartTag(std::string& out, pugi::xml_node element, std::string_view name) {
    out += '<';
    out += name;
    for (pugi::xml_attribute attribute = element.first_attribute(); attribute;
         attribute = attribute.next_attribute()) {
        out += ' ';
        out += attribute.name();
        out += "=\"";
        appendEscapedAttribute(out, attribute.value());
        out += '"';
    }
}

// An element holding one text and nothing else, the commonest of a record,
// is written at once.
bool appendTextOnly(std::string& out, pugi::xml_node first) {
    if (first.type() != pugi::node_pcdata || first.next_sibling()) {
        return false;
    }
    appendEscapedText(out, first.value());
    return true;
}

void appendElement(std::string& out, pugi::xml_node element, int depth, bool indent,
                   const Flush* flush) {
    const std::string_view name = element.name();
    appendStartTag(out, element, name);
    const pugi::xml_node first = element.first_child();
    if (!first) {
        out += "/>";
        return;
    }
    out += '>';
    if (!appendTextOnly(out, first)) {
        // Indentation would change text, so an element holding text is
        // written with its children as they are.
        bool holdsText = false;
        for (pugi::xml_node child = first; child && !holdsText; child = child.next_sibling()) {
            holdsText = isText(child);
        }
        if (!indent || holdsText) {
            for (pugi::xml_node child = first; child; child = child.next_sibling()) {
                appendNode(out, child, 0, false, flush);
            }
        } else {
            for (pugi::xml_node child = first; child; child = child.next_sibling()) {
                out += '\n';
                out.append(static_cast<std::size_t>(depth) + 1, '\t');
                appendNode(out, child, depth + 1, true, flush);
                if (flush != nullptr && out.size() >= kFlushSize) {
                    (*flush)(out);
                }
            }
            out += '\n';
            out.append(static_cast<std::size_t>(depth), '\t');
        }
    }
    out += "</";
    out += name;
    out += '>';
}

void appendCdata(std::string& out, std::string_view text) {
    // "]]>" cannot stand inside one section: it is split over two.
    out += "<![CDATA[";
    for (std::size_t end; (end = text.find("]]>")) != std::string_view::npos;) {
        out += text.substr(0, end + 2);
        out += "]]><![CDATA[";
        text.remove_prefix(end + 2);
    }
    out += text;
    out += "]]>";
}

void appendNode(std::string& out, pugi::xml_node node, int depth, bool indent, const Flush* flush) {
    switch (node.type()) {
        case pugi::node_element:
            appendElement(out, node, depth, indent, flush);
            break;
        case pugi::node_pcdata:
            appendEscapedText(out, node.value());
            break;
        case pugi::node_cdata:
            appendCdata(out, node.value());
            break;
        case pugi::node_comment:
            out += "<!--";
            out += node.value();
            out += "-->";
            break;
        case pugi::node_pi:
            out += "<?";
            out += node.name();
            if (*node.value() != '\0') {
                out += ' ';
                out += node.value();
            }
            out += "?>";
            break;
        case pugi::node_declaration:
            appendDeclaration(out, node);
            break;
        case pugi::node_doctype:
            out += "<!DOCTYPE ";
            out += node.value();
            out += '>';
            break;
        default:
            break;
    }
}

// Walked in document order without recursion: a loaded text may nest as
// deep as it likes without exhausting the stack.
void appendText(std::string& out, pugi::xml_node node) {
    pugi::xml_node current = node.first_child();
    while (current) {
        if (current.type() == pugi::node_pcdata || current.type() == pugi::node_cdata) {
            out += current.value();
        } else if (current.type() == pugi::node_element && current.first_child()) {
            current = current.first_child();
            continue;
        }
        while (current != node && !current.next_sibling()) {
            current = current.parent();
        }
        if (current == node) {
            break;
        }
        current = current.next_sibling();
    }
}

pugi::xml_node requireNode(const XmlNode& node, const char* operation) {
    pugi::xml_node n = XmlNodeRef::node(node);
    if (!n || XmlNodeRef::attribute(node)) {
        throw Error(std::string(operation) + ": il nodo non è un elemento");
    }
    return n;
}

pugi::xml_node requireElement(const XmlNode& node, const char* operation) {
    pugi::xml_node n = requireNode(node, operation);
    if (n.type() != pugi::node_element) {
        throw Error(std::string(operation) + ": il nodo non è un elemento");
    }
    return n;
}

XmlNode select(const std::shared_ptr<XmlStorage>& storage, pugi::xml_node context,
               std::string_view xpath) {
    const std::string expression(xpath);
    pugi::xpath_node found;
    try {
        const pugi::xpath_query query(expression.c_str());
        if (query.return_type() != pugi::xpath_type_node_set) {
            throw Error("L'espressione XPath non seleziona nodi: " + expression);
        }
        found = query.evaluate_node(context);
    } catch (const pugi::xpath_exception& e) {
        throw Error("Espressione XPath non valida: " + expression + " (" + e.what() + ")");
    }
    pugi::xml_node owner = found.attribute() ? found.parent() : found.node();
    if (!owner || (storage->isDetached(owner) && !storage->isDetached(context))) {
        return {};
    }
    return XmlNodeRef::make(storage, owner, found.attribute());
}

// Appends child under parent (the document node when inserting the root):
// moved within one storage, copied from another.
XmlNode appendInto(const std::shared_ptr<XmlStorage>& storage, pugi::xml_node parent,
                   const XmlNode& child) {
    if (child.isNull()) {
        throw Error("appendChild: nessun nodo da aggiungere");
    }
    if (XmlNodeRef::attribute(child)) {
        throw Error("appendChild: un attributo non può essere aggiunto come figlio");
    }
    const pugi::xml_node source = XmlNodeRef::node(child);
    const bool intoDocument = parent.type() == pugi::node_document;
    const pugi::xml_node before = intoDocument ? storage->holder : pugi::xml_node();
    pugi::xml_node added;
    if (XmlNodeRef::storage(child) == storage) {
        added = before ? parent.insert_move_before(source, before) : parent.append_move(source);
        if (!added) {
            throw Error(
                "appendChild: un nodo non può essere aggiunto in sé stesso o in un suo "
                "discendente");
        }
    } else {
        added = before ? parent.insert_copy_before(source, before) : parent.append_copy(source);
        if (!added) {
            throw Error("appendChild: il nodo non può essere aggiunto qui");
        }
    }
    return XmlNodeRef::make(storage, added);
}

// The encoding named by the XML declaration at the start of the text, if any.
std::string_view declaredEncoding(std::string_view text) {
    if (!text.starts_with("<?xml")) {
        return {};
    }
    const std::string_view declaration = text.substr(0, text.find("?>"));
    const std::size_t name = declaration.find("encoding");
    if (name == std::string_view::npos) {
        return {};
    }
    const std::size_t open = declaration.find_first_of("\"'", name);
    if (open == std::string_view::npos) {
        return {};
    }
    const std::size_t close = declaration.find(declaration[open], open + 1);
    if (close == std::string_view::npos) {
        return {};
    }
    return declaration.substr(open + 1, close - open - 1);
}

struct ReasonText {
    pugi::xml_parse_status status;
    const char* text;
};

constexpr ReasonText kReasons[] = {
    {pugi::status_file_not_found, "File non trovato"},
    {pugi::status_io_error, "Errore di lettura del file"},
    {pugi::status_out_of_memory, "Memoria insufficiente per il documento"},
    {pugi::status_internal_error, "Errore interno del parser XML"},
    {pugi::status_unrecognized_tag, "Tag non riconosciuto"},
    {pugi::status_bad_pi, "Dichiarazione XML o istruzione di elaborazione non valida"},
    {pugi::status_bad_comment, "Commento non valido"},
    {pugi::status_bad_cdata, "Sezione CDATA non valida"},
    {pugi::status_bad_doctype, "Dichiarazione del tipo di documento non valida"},
    {pugi::status_bad_pcdata, "Testo non valido"},
    {pugi::status_bad_start_element, "Tag di apertura non valido"},
    {pugi::status_bad_attribute, "Attributo non valido"},
    {pugi::status_bad_end_element, "Tag di chiusura non valido"},
    {pugi::status_end_element_mismatch, "Il tag di chiusura non corrisponde a quello di apertura"},
    {pugi::status_append_invalid_root, "Errore interno del parser XML"},
    {pugi::status_no_document_element, "Elemento radice mancante"},
};

std::string reasonFor(pugi::xml_parse_status status) {
    for (const ReasonText& r : kReasons) {
        if (r.status == status) {
            return r.text;
        }
    }
    return "Documento XML non valido";
}

// Line and column (1-based, in bytes) of a byte offset in the text.
void locate(std::string_view text, std::ptrdiff_t offset, XmlParseError& error) {
    const auto end = static_cast<std::size_t>(
        std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size())));
    error.filepos = static_cast<long>(end);
    error.line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++error.line;
            lineStart = i + 1;
        }
    }
    error.linepos = static_cast<long>(end - lineStart) + 1;
    error.reason +=
        " (riga " + std::to_string(error.line) + ", colonna " + std::to_string(error.linepos) + ")";
}

}  // namespace

// ---- XmlNode ----

XmlNode XmlNode::appendChild(const XmlNode& child) {
    return appendInto(storage_, requireElement(*this, "appendChild"), child);
}

void XmlNode::setAttribute(std::string_view name, std::string_view value) {
    pugi::xml_node element = requireElement(*this, "setAttribute");
    requireName(name, "attributo");
    const char* key = zeroTerminated<0>(name);
    pugi::xml_attribute attribute = element.attribute(key);
    if (!attribute) {
        attribute = element.append_attribute(key);
    }
    attribute.set_value(zeroTerminated<1>(value));
}

std::string XmlNode::text() const {
    if (pugi::xml_attribute attribute = XmlNodeRef::attribute(*this)) {
        return attribute.value();
    }
    const pugi::xml_node node = XmlNodeRef::node(*this);
    if (!node) {
        throw Error("text: nessun nodo");
    }
    std::string out;
    switch (node.type()) {
        case pugi::node_element:
            appendText(out, node);
            break;
        case pugi::node_pcdata:
        case pugi::node_cdata:
        case pugi::node_comment:
        case pugi::node_pi:
            out = node.value();
            break;
        default:
            break;
    }
    return trimXmlSpace(std::move(out));
}

void XmlNode::setText(std::string_view text) {
    if (pugi::xml_attribute attribute = XmlNodeRef::attribute(*this)) {
        attribute.set_value(zeroTerminated<0>(text));
        return;
    }
    pugi::xml_node element = requireElement(*this, "text");
    while (pugi::xml_node child = element.first_child()) {
        element.remove_child(child);
    }
    if (!text.empty()) {
        element.append_child(pugi::node_pcdata).set_value(zeroTerminated<0>(text));
    }
}

XmlNode XmlNode::selectSingleNode(std::string_view xpath) const {
    return select(storage_, requireNode(*this, "selectSingleNode"), xpath);
}

std::string XmlNode::xml() const {
    std::string out;
    if (pugi::xml_attribute attribute = XmlNodeRef::attribute(*this)) {
        out = attribute.name();
        out += "=\"";
        appendEscapedAttribute(out, attribute.value());
        out += '"';
    } else if (pugi::xml_node node = XmlNodeRef::node(*this)) {
        appendNode(out, node, 0, true);
    }
    return out;
}

// ---- XmlDocument ----

XmlDocument::XmlDocument() : storage_(std::make_shared<XmlStorage>()) {}
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

XmlDocument XmlDocument::sharedHandle() const {
    storage();
    XmlDocument handle;
    handle.storage_ = storage_;
    return handle;
}

detail::XmlStorage& XmlDocument::storage() const {
    if (!storage_) {  // moved from
        storage_ = std::make_shared<XmlStorage>();
    }
    return *storage_;
}

void XmlDocument::setProperty(std::string_view name, std::string_view value) {
    if (name == "ProhibitDTD") {
        if (value != "true" && value != "false") {
            throw Error("Valore non valido per ProhibitDTD: " + std::string(value));
        }
        prohibitDtd_ = value == "true";
        return;
    }
    if (name == "MaxXMLSize") {
        maxXmlSizeKiB_ = readLimit(name, value);
        return;
    }
    if (name == "MaxElementDepth") {
        maxElementDepth_ = readLimit(name, value);
        return;
    }
    if (name != "SelectionLanguage") {
        throw Error("Proprietà del documento XML non gestita: " + std::string(name));
    }
    if (value != "XPath" && value != "XSLPattern") {
        throw Error("Linguaggio di selezione non gestito: " + std::string(value));
    }
    selectionLanguage_ = value;
}

std::string XmlDocument::getProperty(std::string_view name) const {
    if (name == "ProhibitDTD") {
        return prohibitDtd_ ? "true" : "false";
    }
    if (name == "MaxXMLSize") {
        return std::to_string(maxXmlSizeKiB_);
    }
    if (name == "MaxElementDepth") {
        return std::to_string(maxElementDepth_);
    }
    if (name != "SelectionLanguage") {
        throw Error("Proprietà del documento XML non gestita: " + std::string(name));
    }
    return selectionLanguage_;
}

bool XmlDocument::refuse(long code, std::string reason, std::string_view text,
                         std::ptrdiff_t offset) {
    parseError_.errorCode = code;
    parseError_.reason = std::move(reason);
    if (offset >= 0) {
        locate(text, offset, parseError_);
    }
    storage_ = std::make_shared<XmlStorage>();
    return false;
}

bool XmlDocument::tooLarge(std::size_t size) const {
    return maxXmlSizeKiB_ != 0 && size > maxXmlSizeKiB_ * std::size_t{1024};
}

bool XmlDocument::parse(std::string_view text, bool detectEncoding) {
    // A fresh storage: handles into the previous content keep it alive.
    parseError_ = {};
    if (tooLarge(text.size())) {
        return refuse(kTooLarge,
                      "Il documento supera la dimensione massima di " +
                          std::to_string(maxXmlSizeKiB_) + " KiB",
                      text, -1);
    }
    auto fresh = std::make_shared<XmlStorage>();
    const pugi::xml_parse_result result =
        fresh->document.load_buffer(text.data(), text.size(), kParseFlags,
                                    detectEncoding ? pugi::encoding_auto : pugi::encoding_utf8);
    if (!result) {
        return refuse(static_cast<long>(result.status), reasonFor(result.status), text,
                      result.offset);
    }
    long roots = 0;
    for (pugi::xml_node child : fresh->document.children()) {
        switch (child.type()) {
            case pugi::node_element:
                ++roots;
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
                return refuse(static_cast<long>(pugi::status_bad_pcdata),
                              reasonFor(pugi::status_bad_pcdata), text, child.offset_debug());
            case pugi::node_doctype:
                if (prohibitDtd_) {
                    return refuse(kDtdProhibited,
                                  "Dichiarazione del tipo di documento non consentita", text,
                                  child.offset_debug());
                }
                break;
            default:
                break;
        }
    }
    if (roots == 0) {
        return refuse(static_cast<long>(pugi::status_no_document_element),
                      reasonFor(pugi::status_no_document_element), text,
                      static_cast<std::ptrdiff_t>(text.size()));
    }
    if (roots > 1) {
        return refuse(kMoreThanOneRoot, "Il documento ha più di un elemento radice", text, -1);
    }
    if (maxElementDepth_ != 0) {
        if (const pugi::xml_node deep = tooDeep(fresh->document, maxElementDepth_)) {
            return refuse(kTooDeep,
                          "Il documento supera la profondità massima di " +
                              std::to_string(maxElementDepth_) + " livelli",
                          text, deep.offset_debug());
        }
    }
    if (prohibitDtd_) {
        if (const std::size_t at = undeclaredReference(text); at != std::string_view::npos) {
            return refuse(kUndeclaredEntity, "Riferimento a un'entità non dichiarata", text,
                          static_cast<std::ptrdiff_t>(at));
        }
    }
    storage_ = std::move(fresh);
    return true;
}

bool XmlDocument::load(const std::filesystem::path& path) {
    // A file over the size limit is not read at all.
    std::error_code sizeError;
    if (const auto size = std::filesystem::file_size(path, sizeError);
        !sizeError && tooLarge(static_cast<std::size_t>(size))) {
        parseError_ = {};
        return refuse(kTooLarge,
                      "Il documento supera la dimensione massima di " +
                          std::to_string(maxXmlSizeKiB_) + " KiB",
                      {}, -1);
    }
    auto content = files::readAll(path);
    if (!content) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        parseError_ = {};
        parseError_.errorCode =
            static_cast<long>(exists ? pugi::status_io_error : pugi::status_file_not_found);
        parseError_.reason =
            reasonFor(exists ? pugi::status_io_error : pugi::status_file_not_found);
        storage_ = std::make_shared<XmlStorage>();
        return false;
    }
    // The code page of the Windows workstations, which the parser does not know.
    const std::string_view encoding = declaredEncoding(*content);
    if (equalsIgnoringCase(encoding, "windows-1252") || equalsIgnoringCase(encoding, "cp1252")) {
        return parse(windows1252ToUtf8(*content), false);
    }
    return parse(*content, true);
}

bool XmlDocument::loadXML(std::string_view text) {
    return parse(text, false);
}

namespace {

void appendDocument(std::string& out, const XmlStorage& s, const Flush* flush) {
    for (pugi::xml_node child : s.document.children()) {
        if (child == s.holder) {
            continue;
        }
        appendNode(out, child, 0, true, flush);
        out += '\n';
    }
}

}  // namespace

std::string XmlDocument::xml() const {
    std::string out;
    out.reserve(64 * 1024);
    appendDocument(out, storage(), nullptr);
    return out;
}

void XmlDocument::save(const std::filesystem::path& path) const {
    // Written a piece at a time: the text of a large record is never held
    // whole beside its document.
    files::AtomicFile file(path);
    std::string out;
    out.reserve(kFlushSize + 64 * 1024);
    const Flush flush = [&file](std::string& testo) {
        file.write(testo);
        testo.clear();
    };
    appendDocument(out, storage(), &flush);
    file.write(out);
    file.commit();
}

XmlNode XmlDocument::documentElement() const {
    storage();
    return XmlNodeRef::make(storage_, storage_->rootElement());
}

XmlNode XmlDocument::createElement(std::string_view name) {
    requireName(name, "elemento");
    XmlStorage& s = storage();
    return XmlNodeRef::make(storage_, s.detachedHolder().append_child(zeroTerminated<0>(name)));
}

XmlNode XmlDocument::appendChild(const XmlNode& child) {
    XmlStorage& s = storage();
    const pugi::xml_node root = s.rootElement();
    if (root && !(XmlNodeRef::storage(child) == storage_ && XmlNodeRef::node(child) == root)) {
        throw Error("appendChild: il documento ha già un elemento radice");
    }
    if (!child.isNull() && !XmlNodeRef::attribute(child) &&
        XmlNodeRef::node(child).type() != pugi::node_element) {
        throw Error("appendChild: solo un elemento può essere la radice del documento");
    }
    return appendInto(storage_, s.document, child);
}

XmlNode XmlDocument::selectSingleNode(std::string_view xpath) const {
    storage();
    return select(storage_, storage_->document, xpath);
}

}  // namespace kvt
