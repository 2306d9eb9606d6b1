#pragma once

#include <windows.h>

#include <string>

// A little JSON writer: the probe prints what it sees as one JSON value,
// texts as UTF-8 so UTF-16 read from windows comes through exactly.
class Json {
public:
    Json& Open(char bracket) {
        Separate();
        text_ += bracket;
        first_ = true;
        return *this;
    }
    Json& Close(char bracket) {
        text_ += bracket;
        first_ = false;
        return *this;
    }
    Json& Key(const char* key) {
        Separate();
        text_ += '"';
        text_ += key;
        text_ += "\":";
        first_ = true;
        return *this;
    }
    Json& Number(long long value) {
        Separate();
        text_ += std::to_string(value);
        return *this;
    }
    Json& Bool(bool value) {
        Separate();
        text_ += value ? "true" : "false";
        return *this;
    }
    Json& Text(const std::wstring& value);
    Json& Rect(const RECT& r) {
        Open('[').Number(r.left).Number(r.top).Number(r.right).Number(r.bottom);
        return Close(']');
    }

    void Print() const;

private:
    void Separate() {
        if (!first_) text_ += ',';
        first_ = false;
    }

    std::string text_;
    bool first_ = true;
};
