// The keys of the language files, in the order the shipped files list them,
// with the built-in texts the program shows until a language file is applied.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace marlix {

struct LanguageText {
    std::string_view key;
    std::string_view builtin;
};

inline constexpr auto kLanguageTexts = std::to_array<LanguageText>({
    {"TrayIconHint", "Поддержка печати DOS-консоли"},
    {"Title", "Настройки печати DOS-консоли"},
    {"TabMain", "Общие"},
    {"TabFonts", "Шрифты"},
    {"SpoolParam", " Параметры очереди "},
    {"TimeOut", "Тайм-аут очереди"},
    {"Sec", "сек"},
    {"AutoPrint", "А&втоматическая печать"},
    {"EOFPrint", "По концу страницы"},
    {"Print", "Распечатать"},
    {"PrintFile", "Распечатать файл"},
    {"Clear", "Очистить очередь"},
    {"CancelPrint", "Отменить печать"},
    {"FileName", "Имя файла очереди"},
    {"Preview", "Образец"},
    {"Sequences", "Последовательности"},
    {"NewVersion", "Более новые версии:"},
    {"Orientation", "Ориентация"},
    {"Portrait", "&книжная"},
    {"Landscape", "&альбомная"},
    {"TextParam", "Параметры текста"},
    {"WordWrap", "Переносить длинные строки"},
    {"FormFeed", "Использовать прогон страницы"},
    {"Minimize", "Запускать свернутый"},
    {"Printer", "Принтер"},
    {"Select", "Выбрать"},
    {"MonoSpaceOnly", "Показывать только моноширные"},
    {"FontStyle", "Начертание"},
    {"Bold", "полужирный"},
    {"Italic", "курсив"},
    {"Underline", "подчеркнутый"},
    {"Strikeout", "зачеркнутый"},
    {"Esc", "Последовательности"},
    {"Size", "Размер"},
    {"PageParam", "Параметры страницы"},
    {"Lines", "строк"},
    {"Chars", "символов"},
    {"TopMargin", "&Верхнее поле, мм"},
    {"LeftMargin", "&Левое поле, мм"},
    {"BottomMargin", "&Нижнее поле, мм"},
    {"RightMargin", "&Правое поле, мм"},
    {"FontPreview", ""}, // no sample line until a language file gives one
    {"MonoSpace", "Моноширный шрифт."},
    {"Proportional", "Пропорциональный шрифт. Не рекомендуется использовать."},
    {"ExitTitle", "Предупреждение"},
    {"ExitLine1", "После закрытия печать заданий"},
    {"ExitLine2", "MS-DOS будет недоступна. Выйти?"},
    {"MenuOpen", "Открыть"},
    {"MenuCancel", "Отмена"},
    {"MenuExit", "Выход"},
    {"Add", "Добавить"},
    {"Delete", "Удалить"},
    {"Codes", "Коды"},
    {"Apply", "Применить"},
    {"Cancel", "Отмена"},
    {"Close", "Закрыть"},
    {"Capture", "Перехват порта"},
    {"Initialize", "Инициализация"},
    {"NoPrinters", "В системе нет установленных принтеров"},
    {"Font", "Тип шрифта"},
    {"SchemeNameInvalid", "Имя схемы не может быть пустым и не может содержать «\\» или «/»"},
    {"SchemeNameTaken", "Схема «%s» уже есть"},
});

// The tray menu has its own built-in captions for these keys; a language
// file's text replaces both the menu item and the window control.
inline constexpr auto kTrayTexts = std::to_array<LanguageText>({
    {"Print", "Печать"},
    {"PrintFile", "Печатать файл"},
    {"Clear", "Отменить задание"},
    {"Portrait", "Книжная"},
    {"Landscape", "Альбомная"},
});

// "" for a key that is not in the table.
constexpr std::string_view builtinText(std::string_view key) {
    for (const auto& t : kLanguageTexts)
        if (t.key == key) return t.builtin;
    return {};
}

constexpr std::string_view builtinTrayText(std::string_view key) {
    for (const auto& t : kTrayTexts)
        if (t.key == key) return t.builtin;
    return builtinText(key);
}

namespace detail {

constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

constexpr bool sameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

// A key listed twice would leave the second entry unreachable in every file,
// and a tray caption of a key no file has could never be replaced.
constexpr bool keysDistinct() {
    for (std::size_t i = 0; i < kLanguageTexts.size(); ++i)
        for (std::size_t j = i + 1; j < kLanguageTexts.size(); ++j)
            if (sameKey(kLanguageTexts[i].key, kLanguageTexts[j].key)) return false;
    for (const auto& t : kTrayTexts)
        if (builtinText(t.key).empty()) return false;
    return true;
}

} // namespace detail

static_assert(detail::keysDistinct(), "language keys must be distinct and tray keys listed");

} // namespace marlix
