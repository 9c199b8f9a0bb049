// formc: compiles a text form description into a binary "TPF0" form stream.
//
//   formc <form.txt> <out.bin> [--truncate N] [--no-signature] [--depfile <file.d>]
//
// Text form:
//   object Name: TClass          (inherited Name: TClass  -> prefix flag 1;
//                                 object Name: TClass [3] -> prefix flag 2, position 3)
//     Left = 357                 integer, smallest tag; int8(..) int16(..) int32(..) force one
//     Caption = 'It''s'#233'te'    string (tag 06); '' is a quote, #n or #$hex a byte
//     Title = utf8 'R\u00e9sum'  UTF-8 string (tag 14); \uXXXX, \\ and #n code points
//     Color = clWhite            identifier (tag 07); ident 'any text' for odd ones
//     ReadOnly = True            True / False
//     Font.Style = [fsBold]      set
//     Picture.Data = bitmap 'a.bmp'   binary holding a "TBitmap" block
//     Blob = file 'x.bin'        binary with the raw file bytes
//     Blob2 = {0A0B0C}           binary with these bytes
//     Odd = raw {0C 01 02}       these bytes as the value, tag included
//     raw {00}                   these bytes at this place of the object
//     object Child: TLabel ... end
//   end
//   raw {..}                     at top level: bytes after the root object
// Comments start with '//' or with a '#' that starts no character code. Paths are
// relative to the form file.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

struct SyntaxError : std::runtime_error {
  SyntaxError(int line, const std::string& message) : std::runtime_error(message), Line(line) {}
  int Line;
};

enum class Tok { End, Ident, Int, Str, Hash, Punct, Hex };

struct Token {
  Tok Kind = Tok::End;
  std::string Text;   // identifier, string contents, hex digits, punctuation
  long long Value = 0;
  int Line = 0;
};

class Lexer {
 public:
  explicit Lexer(std::string text) : text_(std::move(text)) {}

  Token Next() {
    SkipBlanks();
    Token t;
    t.Line = line_;
    if (pos_ >= text_.size()) return t;
    char c = text_[pos_];
    if (IsIdentStart(c)) {
      std::size_t b = pos_;
      while (pos_ < text_.size() && (IsIdentStart(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == '.')) ++pos_;
      t.Kind = Tok::Ident;
      t.Text = text_.substr(b, pos_ - b);
      return t;
    }
    if (IsDigit(c) || (c == '-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
      t.Kind = Tok::Int;
      t.Value = ReadNumber();
      return t;
    }
    if (c == '\'') {
      t.Kind = Tok::Str;
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size() || text_[pos_] == '\n') throw SyntaxError(t.Line, "unterminated string");
        if (text_[pos_] == '\'') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
            t.Text += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        t.Text += text_[pos_++];
      }
      return t;
    }
    if (c == '#') {  // a code follows, or SkipBlanks would have taken it as a comment
      ++pos_;
      t.Kind = Tok::Hash;
      t.Value = ReadNumber();
      return t;
    }
    if (c == '{') {
      ++pos_;
      t.Kind = Tok::Hex;
      for (;;) {
        if (pos_ >= text_.size()) throw SyntaxError(t.Line, "unterminated hex block");
        char h = text_[pos_++];
        if (h == '}') break;
        if (h == '\n') ++line_;
        if (h == ' ' || h == '\t' || h == '\r' || h == '\n' || h == ',') continue;
        if (!std::isxdigit(static_cast<unsigned char>(h))) throw SyntaxError(line_, std::string("bad hex digit '") + h + "'");
        t.Text += h;
      }
      if (t.Text.size() % 2 != 0) throw SyntaxError(t.Line, "odd number of hex digits");
      return t;
    }
    if (c == ':' || c == '=' || c == '[' || c == ']' || c == ',' || c == '(' || c == ')') {
      ++pos_;
      t.Kind = Tok::Punct;
      t.Text = std::string(1, c);
      return t;
    }
    throw SyntaxError(line_, std::string("unexpected character '") + c + "'");
  }

  // True when the next character (no blanks skipped) continues a string expression.
  bool StringContinues() const {
    return pos_ < text_.size() && (text_[pos_] == '\'' || CharCodeAt(pos_));
  }

 private:
  static bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  // '#' followed by a decimal or a '$' hexadecimal number.
  bool CharCodeAt(std::size_t at) const {
    auto digit = [&](std::size_t i, bool hex) {
      return i < text_.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text_[i])) != 0 : IsDigit(text_[i]));
    };
    return text_[at] == '#' &&
           (digit(at + 1, false) || (at + 1 < text_.size() && text_[at + 1] == '$' && digit(at + 2, true)));
  }

  long long ReadNumber() {
    int line = line_;
    bool negative = false;
    if (text_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    int base = 10;
    if (pos_ + 1 < text_.size() && text_[pos_] == '0' && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
      base = 16;
      pos_ += 2;
    } else if (pos_ < text_.size() && text_[pos_] == '$') {
      base = 16;
      ++pos_;
    }
    long long v = 0;
    std::size_t b = pos_;
    while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) {
      char d = text_[pos_];
      int digit = IsDigit(d) ? d - '0' : (std::tolower(static_cast<unsigned char>(d)) - 'a' + 10);
      if (digit >= base) break;
      v = v * base + digit;
      if (v > 0xFFFFFFFFLL) throw SyntaxError(line, "number too large");
      ++pos_;
    }
    if (pos_ == b) throw SyntaxError(line, "number expected");
    return negative ? -v : v;
  }

  void SkipBlanks() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if ((c == '#' && !CharCodeAt(pos_)) ||
                 (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/')) {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }

  std::string text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

void PutByte(std::string& out, unsigned v) { out += static_cast<char>(v & 0xFF); }
void PutInt16(std::string& out, long long v) {
  PutByte(out, static_cast<unsigned>(v));
  PutByte(out, static_cast<unsigned>(v >> 8));
}
void PutInt32(std::string& out, long long v) {
  for (int i = 0; i < 4; ++i) PutByte(out, static_cast<unsigned>(v >> (8 * i)));
}

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    PutByte(out, static_cast<unsigned>(cp));
  } else if (cp < 0x800) {
    PutByte(out, 0xC0 | static_cast<unsigned>(cp >> 6));
    PutByte(out, 0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    PutByte(out, 0xE0 | static_cast<unsigned>(cp >> 12));
    PutByte(out, 0x80 | ((cp >> 6) & 0x3F));
    PutByte(out, 0x80 | (cp & 0x3F));
  } else {
    PutByte(out, 0xF0 | static_cast<unsigned>(cp >> 18));
    PutByte(out, 0x80 | ((cp >> 12) & 0x3F));
    PutByte(out, 0x80 | ((cp >> 6) & 0x3F));
    PutByte(out, 0x80 | (cp & 0x3F));
  }
}

class Compiler {
 public:
  Compiler(const std::string& text, std::string baseDir) : lex_(text), baseDir_(std::move(baseDir)) { Advance(); }

  std::string Compile() {
    std::string out;
    bool haveRoot = false;
    while (tok_.Kind != Tok::End) {
      if (IsWord("object") || IsWord("inherited")) {
        if (haveRoot) throw SyntaxError(tok_.Line, "only one root object");
        haveRoot = true;
        CompileObject(out);
      } else if (IsWord("raw")) {
        Advance();
        out += HexBytes();
      } else {
        throw SyntaxError(tok_.Line, "'object', 'inherited' or 'raw' expected");
      }
    }
    if (!haveRoot) throw SyntaxError(tok_.Line, "no object in the form");
    return out;
  }

  std::set<std::string> Dependencies;

 private:
  void Advance() { tok_ = lex_.Next(); }
  bool IsWord(const char* w) const { return tok_.Kind == Tok::Ident && tok_.Text == w; }
  bool IsPunct(char c) const { return tok_.Kind == Tok::Punct && tok_.Text[0] == c; }
  void Expect(char c) {
    if (!IsPunct(c)) throw SyntaxError(tok_.Line, std::string("'") + c + "' expected");
    Advance();
  }
  std::string ExpectIdent(const char* what) {
    if (tok_.Kind != Tok::Ident) throw SyntaxError(tok_.Line, std::string(what) + " expected");
    std::string s = tok_.Text;
    Advance();
    return s;
  }
  void PutShortString(std::string& out, const std::string& s, int line) {
    if (s.size() > 255) throw SyntaxError(line, "text longer than 255 bytes");
    PutByte(out, static_cast<unsigned>(s.size()));
    out += s;
  }

  void CompileObject(std::string& out) {
    bool inherited = IsWord("inherited");
    Advance();
    int line = tok_.Line;
    std::string name = ExpectIdent("object name");
    Expect(':');
    std::string cls = ExpectIdent("class name");
    bool hasPosition = false;
    long long position = 0;
    if (IsPunct('[')) {
      Advance();
      if (tok_.Kind != Tok::Int) throw SyntaxError(tok_.Line, "child position expected");
      position = tok_.Value;
      hasPosition = true;
      Advance();
      Expect(']');
    }
    if (inherited || hasPosition) PutByte(out, 0xF0 | (inherited ? 1 : 0) | (hasPosition ? 2 : 0));
    if (hasPosition) PutInt32(out, position);
    PutShortString(out, cls, line);
    PutShortString(out, name, line);
    bool inChildren = false;
    for (;;) {
      if (tok_.Kind == Tok::End) throw SyntaxError(line, "object " + name + " lacks its 'end'");
      if (IsWord("end")) {
        Advance();
        break;
      }
      if (IsWord("object") || IsWord("inherited")) {
        if (!inChildren) PutByte(out, 0);  // end of the property list
        inChildren = true;
        CompileObject(out);
        continue;
      }
      if (IsWord("raw")) {
        Advance();
        out += HexBytes();
        continue;
      }
      int propLine = tok_.Line;
      std::string prop = ExpectIdent("property name, 'object' or 'end'");
      if (inChildren) throw SyntaxError(propLine, "property " + prop + " after a child object");
      Expect('=');
      if (tok_.Line != propLine) throw SyntaxError(propLine, "value of " + prop + " expected on its line");
      PutShortString(out, prop, propLine);
      CompileValue(out);
    }
    if (!inChildren) PutByte(out, 0);
    PutByte(out, 0);  // end of the child list
  }

  std::string StringExpr(bool utf8) {
    std::string s;
    int line = tok_.Line;
    if (tok_.Kind != Tok::Str && tok_.Kind != Tok::Hash) throw SyntaxError(line, "string expected");
    for (;;) {
      bool more = lex_.StringContinues();
      if (tok_.Kind == Tok::Str) {
        s += utf8 ? Unescape(tok_.Text, line) : tok_.Text;
      } else if (tok_.Kind == Tok::Hash) {
        if (utf8) {
          if (tok_.Value < 0 || tok_.Value > 0x10FFFF) throw SyntaxError(line, "code point out of range");
          AppendUtf8(s, static_cast<unsigned long>(tok_.Value));
        } else {
          if (tok_.Value < 0 || tok_.Value > 255) throw SyntaxError(line, "byte escape out of range");
          PutByte(s, static_cast<unsigned>(tok_.Value));
        }
      }
      Advance();
      if (!more) break;
    }
    return s;
  }

  static bool IsHex4(const std::string& text, std::size_t at) {
    for (std::size_t k = at; k < at + 4; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(text[k]))) return false;
    return true;
  }

  static std::string Unescape(const std::string& text, int line) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\\') {
        out += text[i];
        continue;
      }
      if (i + 1 < text.size() && text[i + 1] == '\\') {
        out += '\\';
        ++i;
      } else if (i + 5 < text.size() && text[i + 1] == 'u' && IsHex4(text, i + 2)) {
        unsigned long cp = std::stoul(text.substr(i + 2, 4), nullptr, 16);
        AppendUtf8(out, cp);
        i += 5;
      } else {
        throw SyntaxError(line, "bad escape in utf8 string");
      }
    }
    return out;
  }

  std::string HexBytes() {
    if (tok_.Kind != Tok::Hex) throw SyntaxError(tok_.Line, "{hex bytes} expected");
    std::string out;
    for (std::size_t i = 0; i < tok_.Text.size(); i += 2)
      PutByte(out, static_cast<unsigned>(std::stoul(tok_.Text.substr(i, 2), nullptr, 16)));
    Advance();
    return out;
  }

  std::string ReadFile(const std::string& relative, int line) {
    std::string path = relative;
    if (path.empty() || path[0] != '/') path = baseDir_ + path;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SyntaxError(line, "cannot read " + path);
    Dependencies.insert(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static void PutBinary(std::string& out, const std::string& bytes) {
    PutByte(out, 0x0A);
    PutInt32(out, static_cast<long long>(bytes.size()));
    out += bytes;
  }

  void PutInteger(std::string& out, long long v, int width, int line) {
    if (width == 0) width = (v >= -128 && v <= 127) ? 1 : (v >= -32768 && v <= 32767) ? 2 : 4;
    long long lo = width == 1 ? -128 : width == 2 ? -32768 : -2147483648LL;
    long long hi = width == 1 ? 255 : width == 2 ? 65535 : 0xFFFFFFFFLL;
    if (v < lo || v > hi) throw SyntaxError(line, "integer out of range");
    if (width == 1) {
      PutByte(out, 0x02);
      PutByte(out, static_cast<unsigned>(v));
    } else if (width == 2) {
      PutByte(out, 0x03);
      PutInt16(out, v);
    } else {
      PutByte(out, 0x04);
      PutInt32(out, v);
    }
  }

  // A value that starts with a word: a boolean, a typed integer or string,
  // a file's bytes, raw bytes, or an identifier.
  void CompileWordValue(std::string& out, int line) {
    std::string w = tok_.Text;
    if (w == "end" || w == "object" || w == "inherited") throw SyntaxError(line, "value expected before '" + w + "'");
    if (w == "True" || w == "true") {
      Advance();
      PutByte(out, 0x09);
      return;
    }
    if (w == "False" || w == "false") {
      Advance();
      PutByte(out, 0x08);
      return;
    }
    if (w == "int8" || w == "int16" || w == "int32") {
      Advance();
      Expect('(');
      if (tok_.Kind != Tok::Int) throw SyntaxError(tok_.Line, "integer expected");
      long long v = tok_.Value;
      Advance();
      Expect(')');
      PutInteger(out, v, w == "int8" ? 1 : w == "int16" ? 2 : 4, line);
      return;
    }
    if (w == "utf8") {
      Advance();
      std::string s = StringExpr(true);
      PutByte(out, 0x14);
      PutInt32(out, static_cast<long long>(s.size()));
      out += s;
      return;
    }
    if (w == "ident") {
      Advance();
      std::string s = StringExpr(false);
      PutByte(out, 0x07);
      PutShortString(out, s, line);
      return;
    }
    if (w == "bitmap" || w == "file") {
      Advance();
      std::string bytes = ReadFile(StringExpr(false), line);
      if (w == "bitmap") {
        std::string block;
        PutShortString(block, "TBitmap", line);
        PutInt32(block, static_cast<long long>(bytes.size()));
        bytes = block + bytes;
      }
      PutBinary(out, bytes);
      return;
    }
    if (w == "raw") {
      Advance();
      out += HexBytes();
      return;
    }
    Advance();
    PutByte(out, 0x07);
    PutShortString(out, w, line);
  }

  void CompileValue(std::string& out) {
    int line = tok_.Line;
    switch (tok_.Kind) {
      case Tok::Int:
        PutInteger(out, tok_.Value, 0, line);
        Advance();
        return;
      case Tok::Str:
      case Tok::Hash: {
        std::string s = StringExpr(false);
        PutByte(out, 0x06);
        PutShortString(out, s, line);
        return;
      }
      case Tok::Hex:
        PutBinary(out, HexBytes());
        return;
      case Tok::Punct:
        if (IsPunct('[')) {
          Advance();
          PutByte(out, 0x0B);
          while (!IsPunct(']')) {
            PutShortString(out, ExpectIdent("set element"), line);
            if (IsPunct(',')) Advance();
            else if (!IsPunct(']')) throw SyntaxError(tok_.Line, "',' or ']' expected");
          }
          Advance();
          PutByte(out, 0);
          return;
        }
        break;
      case Tok::Ident:
        CompileWordValue(out, line);
        return;
      default:
        break;
    }
    throw SyntaxError(line, "value expected");
  }

  Lexer lex_;
  Token tok_;
  std::string baseDir_;
};

int Usage() {
  std::cerr << "usage: formc <form.txt> <out.bin> [--truncate N] [--no-signature] [--depfile <file.d>]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  long long truncate = -1;
  bool signature = true;
  std::string depfile;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--truncate" && i + 1 < argc) {
      truncate = std::atoll(argv[++i]);
    } else if (a == "--no-signature") {
      signature = false;
    } else if (a == "--depfile" && i + 1 < argc) {
      depfile = argv[++i];
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) return Usage();
  const std::string& input = positional[0];
  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << input << ": cannot read\n";
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string::size_type slash = input.find_last_of('/');
  std::string baseDir = slash == std::string::npos ? std::string() : input.substr(0, slash + 1);

  std::string out = signature ? std::string("TPF0") : std::string();
  std::set<std::string> dependencies;
  try {
    // The constructor reads the first token already: it can fail too.
    Compiler compiler(text, baseDir);
    out += compiler.Compile();
    dependencies = std::move(compiler.Dependencies);
  } catch (const SyntaxError& e) {
    std::cerr << input << ":" << e.Line << ": error: " << e.what() << "\n";
    return 1;
  }
  if (truncate >= 0 && static_cast<std::size_t>(truncate) < out.size()) out.resize(static_cast<std::size_t>(truncate));

  std::ofstream o(positional[1], std::ios::binary | std::ios::trunc);
  o.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!o) {
    std::cerr << positional[1] << ": cannot write\n";
    return 1;
  }
  if (!depfile.empty()) {
    std::ofstream d(depfile, std::ios::trunc);
    d << positional[1] << ":";
    dependencies.insert(input);
    for (const std::string& dep : dependencies) {
      d << " ";
      for (char c : dep) {
        if (c == ' ') d << '\\';
        d << c;
      }
    }
    d << "\n";
  }
  return 0;
}
