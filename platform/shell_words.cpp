#include "platform/shell_words.h"

namespace toval {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
}  // namespace

std::optional<std::vector<std::string>> SplitShellWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;  // a word has begun, even if it is still empty ("" is a word)
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsBlank(c)) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
        } else if (c == '\\') {
            if (i + 1 >= text.size()) return std::nullopt;
            // A backslash before a newline joins the lines; before anything else it quotes it.
            if (text[i + 1] != '\n') {
                word += text[i + 1];
                inWord = true;
            }
            i += 2;
        } else if (c == '\'') {
            const std::size_t close = text.find('\'', i + 1);
            if (close == std::string_view::npos) return std::nullopt;
            word.append(text.substr(i + 1, close - i - 1));
            inWord = true;
            i = close + 1;
        } else if (c == '"') {
            inWord = true;
            ++i;
            for (;;) {
                if (i >= text.size()) return std::nullopt;
                const char d = text[i];
                if (d == '"') {
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < text.size()) {
                    const char e = text[i + 1];
                    if (e == '"' || e == '\\' || e == '$' || e == '`') {
                        word += e;
                        i += 2;
                        continue;
                    }
                    if (e == '\n') {
                        i += 2;
                        continue;
                    }
                }
                word += d;
                ++i;
            }
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::string JoinWindowsCommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += word;
            continue;
        }
        // Inside quotes, backslashes are literal unless a quote follows them: those, and the
        // ones before the closing quote, are doubled.
        line += '"';
        size_t backslashes = 0;
        for (const char c : word) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

}  // namespace toval
