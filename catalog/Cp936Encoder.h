#pragma once
// UTF-8 to code page 936 (GBK), the encoding catalogues declare as "GB2312". A character that
// code page 936 cannot hold is written as an XML numeric character reference, so the text must
// be XML character data or attribute content.

#include <string>
#include <string_view>

namespace toval {

class Cp936Encoder {
  public:
    Cp936Encoder();
    ~Cp936Encoder();
    Cp936Encoder(const Cp936Encoder&) = delete;
    Cp936Encoder& operator=(const Cp936Encoder&) = delete;

    // False when the system has no converter for code page 936.
    bool Ready() const { return Available; }

    // Appends the converted `utf8` to `out`; false on input that is not valid UTF-8.
    bool Append(std::string_view utf8, std::string& out);

  private:
    bool Available = false;
    // The iconv descriptor where iconv converts (Linux); Windows converts with its own tables,
    // which need no state.
    void* Converter = nullptr;
};

}  // namespace toval
