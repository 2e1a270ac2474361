#include "catalog/catalog_writer.h"

#include <cstdio>

#include "catalog/Cp936Encoder.h"
#include "catalog/catalog_values.h"
#include "catalog/xml_text.h"
#include "platform/text.h"

namespace toval {

namespace {

constexpr std::string_view kEol = "\r\n";

// Markup characters, and the white space that a parser would otherwise fold or normalise, as
// references so that every text reads back exactly.
void AppendEscaped(std::string_view text, std::string& out) {
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
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
}

class Emitter {
  public:
    Emitter(std::ostream& out, std::string& error) : Out(out), Error(error) {}

    // Each piece is checked, escaped when it is text, and converted as it goes out, so that a
    // catalogue of any size is written with a small buffer.
    bool Text(std::string_view field, std::string_view text) {
        if (!IsXmlText(text)) {
            Error = std::string(field) + " cannot be written in XML: \"" +
                    Printable(text, ControlStyle::HexEscape) + "\"";
            return false;
        }
        AppendEscaped(text, Pending);
        return true;
    }
    void Markup(std::string_view markup) { Pending += markup; }

    bool Flush() {
        if (!Encoder.Ready()) {
            Error = "no converter for code page 936 (GB2312/GBK) on this system";
            return false;
        }
        Encoded.clear();
        if (!Encoder.Append(Pending, Encoded)) {
            Error = "text is not valid UTF-8";
            return false;
        }
        Pending.clear();
        Out.write(Encoded.data(), static_cast<std::streamsize>(Encoded.size()));
        if (!Out) {
            Error = "write failed";
            return false;
        }
        return true;
    }

  private:
    std::ostream& Out;
    std::string& Error;
    Cp936Encoder Encoder;
    std::string Pending;
    std::string Encoded;
};

}  // namespace

std::string FormatCreateDate(const std::tm& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u",
                  static_cast<unsigned>(time.tm_year + 1900),
                  static_cast<unsigned>(time.tm_mon + 1), static_cast<unsigned>(time.tm_mday),
                  static_cast<unsigned>(time.tm_hour), static_cast<unsigned>(time.tm_min),
                  static_cast<unsigned>(time.tm_sec));
    return text;
}

bool WriteCatalog(std::ostream& out, const CatalogProduct& product,
                  std::span<const CFileEntry* const> files, std::string& error) {
    Emitter e(out, error);
    e.Markup("<?xml version=\"1.0\" encoding=\"GB2312\" ?> ");
    e.Markup(kEol);
    e.Markup("<xmlRoot keyname=\"KeyValue\">");
    e.Markup(kEol);
    e.Markup("\t<Product productname=\"");
    if (!e.Text("product name", product.Name)) return false;
    e.Markup("\" createdate=\"");
    if (!e.Text("creation date", product.CreateDate)) return false;
    e.Markup("\" filenum=\"" + std::to_string(files.size()) + "\">");
    e.Markup(kEol);
    for (const std::string& mirror : product.Mirrors) {
        e.Markup("\t\t<Mirror>");
        if (!e.Text("mirror", mirror)) return false;
        e.Markup("</Mirror>");
        e.Markup(kEol);
    }
    for (const CFileEntry* file : files) {
        e.Markup("\t\t<File>");
        e.Markup(kEol);
        for (const CatalogField& field : kCatalogFields) {
            const std::string text = field.Text(*file);
            if (field.Optional && text.empty()) continue;
            e.Markup("\t\t\t<");
            e.Markup(field.Name);
            e.Markup(">");
            if (!e.Text(field.Name, text)) return false;
            e.Markup("</");
            e.Markup(field.Name);
            e.Markup(">");
            e.Markup(kEol);
        }
        // Patches come after the fields, so a reader that stops at the fields reads the same.
        for (const FilePatch& patch : file->Patches) {
            e.Markup("\t\t\t<Patch><From>");
            if (!e.Text("patch source", patch.FromSha256)) return false;
            e.Markup("</From><URL>");
            if (!e.Text("patch URL", patch.URL)) return false;
            e.Markup("</URL><Length>" + std::to_string(patch.Length) + "</Length></Patch>");
            e.Markup(kEol);
        }
        // Last, and only when set: a catalogue without executables keeps the layout old
        // readers know, and they skip an element they do not know.
        if (file->Executable) {
            e.Markup("\t\t\t<Executable>YES</Executable>");
            e.Markup(kEol);
        }
        e.Markup("\t\t</File>");
        e.Markup(kEol);
        if (!e.Flush()) return false;
    }
    e.Markup("\t</Product>");
    e.Markup(kEol);
    e.Markup("</xmlRoot>");
    e.Markup(kEol);
    if (!e.Flush()) return false;
    out.flush();
    if (!out) {
        error = "write failed";
        return false;
    }
    return true;
}

}  // namespace toval
