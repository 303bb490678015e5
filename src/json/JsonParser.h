#pragma once

// The reader: a character-at-a-time state machine with an explicit stack of 32 frames, so that it never
// recurses. It reads JSON with these lenient extensions: single quotes, comments, trailing commas, any
// escaped character, \xHH escapes, unquoted member names and (lenient mode) unquoted words as strings.
// The same machine evaluates paths (JsonPath.cpp) when given a context value.
//
// Entry points for the program:
//   ParseText(text)                 lenient, partial: a value or empty
//   ParseString(text, strict, partial)
// Text ends at its first zero unit or at the end of the view, whichever comes first.

#include "json/JsonValue.h"
#include "json/JsonWriter.h"

#include <cstdint>
#include <new>
#include <string>
#include <string_view>

namespace qarvia::json {

enum TJsonParseError : uint8_t {
    peNone = 0,
    peMoreInput = 1, // the length limit came before a complete top-level value
    peTooDeep = 2,   // nesting would need a frame beyond level 31
    peEndOfText = 3, // the terminating zero came before the value was complete
    peArray = 8,
    peMemberName = 9,
    peMemberColon = 10,
    peMemberSep = 11,
    peString = 12,
    peComment = 13,
    pePathObject = 14,
    pePathArray = 15,
    pePathMethod = 16,
    pePathIndex = 17,
};

enum TJsonTokenizerState : uint8_t {
    tsSkipBlank,
    tsValueStart,
    tsDone,
    tsNullWord,
    tsCommentOpen,
    tsBlockComment,
    tsLineComment,
    tsBlockCommentEnd,
    tsString,
    tsEscape,
    tsWord,
    tsUnicodeEscape,
    tsHexEscape,
    tsBoolWord,
    tsNumber,
    tsArrayNext,
    tsArrayAdd,
    tsArraySep,
    tsMemberStart,
    tsQuotedName,
    tsBareName,
    tsNameSep,
    tsMemberValue,
    tsMemberAdd,
    tsMemberSep,
    tsPathMember,
    tsPathIndex,
    tsPathCall,
    tsIndexValue,
    tsIndexPut,
    tsArgValue,
    tsArgPut,
};

struct TJsonTokenizerFrame {
    TJsonTokenizerState State = tsSkipBlank;
    TJsonTokenizerState Resume = tsValueStart;
    IJsonValue Pending;
    IJsonValue Current;
    std::u16string MemberName;
    IJsonValue Container;
    IJsonValue OuterContainer;
    // A quoted name found whole in the text of the running run, used from there; it is copied into
    // MemberName only when the run ends before its member is stored.
    std::u16string_view NameInText;

    std::u16string_view Name() const noexcept { return NameInText.data() ? NameInText : MemberName; }
    void ClearName() noexcept {
        MemberName.clear();
        NameInText = {};
    }
    void Reset() {
        State = tsSkipBlank;
        Resume = tsValueStart;
        Pending.Reset();
        Current.Reset();
        ClearName();
        Container.Reset();
        OuterContainer.Reset();
    }
};

class TJsonTokenizer {
public:
    static constexpr int MaxLevel = 31;

    TJsonTokenizer();
    ~TJsonTokenizer();
    TJsonTokenizer(const TJsonTokenizer&) = delete;
    TJsonTokenizer& operator=(const TJsonTokenizer&) = delete;

    // Resets every frame from the current level down to 0; Level 0, Error peNone.
    void Reset();

    TJsonParseError Error() const noexcept { return error_; }
    // Units consumed by the last run; after a complete value, the position of the first unread unit.
    int64_t Offset() const noexcept { return offset_; }
    int32_t Level() const noexcept { return level_; }
    // Position counters kept across runs: a tab adds 4 columns, a line feed starts a new line.
    int64_t Line() const noexcept { return line_; }
    int64_t Column() const noexcept { return column_; }
    // The last run ended inside a block comment (after a complete value, or it would have failed).
    bool InBlockComment() const noexcept {
        const TJsonTokenizerState s = frames_[level_].State;
        return s == tsBlockComment || s == tsBlockCommentEnd;
    }

private:
    friend IJsonValue ParseWithTokenizer(TJsonTokenizer& tokenizer, std::u16string_view text, int64_t length,
                                         bool strict, const IJsonValue& context, TJsonPathOptions options,
                                         const IJsonValue& putValue, TJsonKind kind);
    friend class TJsonRun;

    TJsonWriterString scratch_;
    int32_t level_ = 0;
    bool fractional_ = false;
    int32_t fractionDigits_ = -1;
    int32_t matchPos_ = 0;
    int64_t offset_ = 0;
    TJsonParseError error_ = peNone;
    char16_t escapeValue_ = 0;
    char16_t quoteChar_ = 0;
    int32_t argumentDepth_ = 0;
    // The 32 frames. They are built as the nesting first reaches them (a path or a small answer needs one
    // or two), in place in this storage; framesBuilt_ counts them.
    TJsonTokenizerFrame* enterFrame() {
        if (++level_ == framesBuilt_) {
            new (frames_ + framesBuilt_) TJsonTokenizerFrame;
            ++framesBuilt_;
        }
        return frames_ + level_;
    }
    alignas(TJsonTokenizerFrame) unsigned char frameStorage_[sizeof(TJsonTokenizerFrame) * (MaxLevel + 1)];
    TJsonTokenizerFrame* frames_;
    int32_t framesBuilt_ = 0;
    int64_t line_ = 1;
    int64_t column_ = 0;
};

// One run of the machine over text, stopping after length units (-1: no limit) or at the terminating zero
// (the end of the view counts as one). The frames are not reset first, so a text can be fed in pieces.
IJsonValue ParseWithTokenizer(TJsonTokenizer& tokenizer, std::u16string_view text, int64_t length, bool strict,
                              const IJsonValue& context = {}, TJsonPathOptions options = 0,
                              const IJsonValue& putValue = {}, TJsonKind kind = skNull);

// A fresh tokenizer over the whole text. Empty on error, or when partial is false and text is left after the
// value.
IJsonValue ParseString(std::u16string_view text, bool strict, bool partial = true, const IJsonValue& context = {},
                       TJsonPathOptions options = 0, const IJsonValue& putValue = {}, TJsonKind kind = skNull);

// Lenient, partial: the program's reader.
IJsonValue ParseText(std::u16string_view text);

} // namespace qarvia::json
