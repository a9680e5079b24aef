/*
 * SimpleOpt.h - the command-line word parser.
 *
 * Options are matched against a table, case-sensitively; a unique proper
 * prefix with the same number of leading hyphens stands for the full option
 * ("-OVER" for "-OVERRIDE"). Short options are never run together and an
 * argument is never glued to a short option: it is the next word or the text
 * after "=". Words that are not options are set aside.
 */
#pragma once

#include <string>
#include <vector>

template <class SOCHAR>
class CSimpleOptTempl {
public:
    using String = std::basic_string<SOCHAR>;

    enum ESOArgType { SO_NONE, SO_REQ };

    enum ESOError {
        SO_SUCCESS = 0,
        SO_OPT_INVALID = -1,   // unknown option
        SO_OPT_MULTIPLE = -2,  // ambiguous partial match
        SO_ARG_INVALID = -3,   // "=value" given to an option without argument
        SO_ARG_MISSING = -4,   // required argument absent
    };

    struct SOption {
        int nId;
        const SOCHAR* pszArg;
        ESOArgType nArgType;
    };

    /* The table ends with an entry whose nId is -1. */
    CSimpleOptTempl(int argc, SOCHAR* const* argv, const SOption* options)
        : argc_(argc), argv_(argv), options_(options) {}

    /* Advances to the next option word; false when the words are used up. */
    bool Next() {
        while (next_ < argc_) {
            const SOCHAR* word = argv_[next_++];
            if (word[0] != '-') {
                files_.push_back(word);
                continue;
            }
            Examine(word);
            return true;
        }
        return false;
    }

    ESOError LastError() const { return error_; }
    int OptionId() const { return id_; }
    const SOCHAR* OptionText() const { return text_.c_str(); }
    const SOCHAR* OptionArg() const { return hasArg_ ? arg_.c_str() : nullptr; }
    const std::vector<const SOCHAR*>& Files() const { return files_; }

private:
    static size_t Hyphens(const String& s) {
        size_t n = 0;
        while (n < s.size() && s[n] == '-') ++n;
        return n;
    }

    /* Index of the table entry the name stands for, or -1 with error_ set. */
    int Lookup(const String& name) {
        int partial = -1;
        int partials = 0;
        size_t hyphens = Hyphens(name);
        for (int i = 0; options_[i].nId != -1; ++i) {
            String option(options_[i].pszArg);
            if (option == name) return i;
            if (hyphens == name.size() || hyphens != Hyphens(option)) continue;
            if (name.size() < option.size() && option.compare(0, name.size(), name) == 0) {
                partial = i;
                ++partials;
            }
        }
        if (partials == 1) return partial;
        error_ = partials > 1 ? SO_OPT_MULTIPLE : SO_OPT_INVALID;
        return -1;
    }

    void Examine(const SOCHAR* word) {
        error_ = SO_SUCCESS;
        id_ = -1;
        hasArg_ = false;
        arg_.clear();
        text_ = word;
        bool inlineArg = false;
        size_t eq = text_.find('=');
        if (eq != String::npos) {
            arg_ = text_.substr(eq + 1);
            text_.erase(eq);
            inlineArg = true;
        }
        int index = Lookup(text_);
        if (index < 0) return;
        const SOption& option = options_[index];
        text_ = option.pszArg;
        if (option.nArgType == SO_NONE) {
            if (inlineArg) error_ = SO_ARG_INVALID;
        } else if (inlineArg) {
            hasArg_ = true;
        } else if (next_ < argc_ && argv_[next_][0] != '-') {
            arg_ = argv_[next_++];
            hasArg_ = true;
        } else {
            error_ = SO_ARG_MISSING;
        }
        if (error_ == SO_SUCCESS) id_ = option.nId;
    }

    int argc_;
    SOCHAR* const* argv_;
    const SOption* options_;
    int next_ = 1;  // the program name is not an option
    ESOError error_ = SO_SUCCESS;
    int id_ = -1;
    String text_;
    String arg_;
    bool hasArg_ = false;
    std::vector<const SOCHAR*> files_;
};

using CSimpleOpt = CSimpleOptTempl<char>;
