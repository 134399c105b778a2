#include "collector/options.hpp"

#include <cerrno>
#include <cstdlib>

#include <fmt/format.h>

namespace collector {

namespace {

// strtol in base 10 (leading blanks and a sign allowed, stops at the first non-digit,
// 0 without digits), cut to 32 bits as the collector's fields are.
std::int32_t to_int32(std::string_view word) {
    const std::string text(word);
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long>(value)));
}

}  // namespace

OptionParser::OptionParser(CollectorOptions& o) {
    keys_.emplace("-dcollector", Key{false, [&o](std::string_view) { o.dcollector = true; }});
    keys_.emplace("-help", Key{false, [&o](std::string_view) { o.help = true; }});
    keys_.emplace("-timeout", Key{true, [&o](std::string_view v) { o.timeout = to_int32(v); }});
    keys_.emplace("-id", Key{true, [&o](std::string_view v) {
                      o.id = to_int32(v);
                      o.has_id = true;
                  }});
    keys_.emplace("-t", Key{true, [&o](std::string_view v) {
                      o.type = to_int32(v);
                      o.has_type = true;
                  }});
    keys_.emplace("-p", Key{true, [&o](std::string_view v) {
                      o.property = to_int32(v);
                      o.has_property = true;
                  }});
    keys_.emplace("-i", Key{true, [&o](std::string_view v) {
                      o.instance = to_int32(v);
                      o.has_instance = true;
                  }});
}

bool OptionParser::feed(std::string_view word) {
    if (pending_ != nullptr) {
        pending_->apply(word);
        pending_ = nullptr;
        return true;
    }
    const auto it = keys_.find(word);
    if (it == keys_.end()) return false;
    if (it->second.takes_value) {
        pending_ = &it->second;
    } else {
        it->second.apply(word);
    }
    return true;
}

std::string formatDuration(std::int64_t ms) {
    const std::int64_t seconds = ms / 1000;
    return fmt::format("{:02}:{:02}:{:02}.{:03}", seconds / 3600, seconds % 3600 / 60, seconds % 60,
                       ms % 1000);
}

const std::string_view kHelpText =
    "\n"
    "Для запуска скрипта необходимо ввести пару ключ и значение.\n"
    "ИСКЛЮЧЕНИЕ: -dcollector\n"
    "|------------------------------------------------------|           \n"
    "|      КЛЮЧ      |              ОПИСАНИЕ               |\n"
    "|------------------------------------------------------|\n"
    "| -dcollector    | Собирает данные по устройствам      |\n"
    "|                |                                     |\n"
    "| -timeout       | Временной промежуток для запроса    |\n"
    "|                | данных                              |\n"
    "|                |                                     |\n"
    "| -id            | Идентификатор устройства            |\n"
    "|                |                                     |\n"
    "| -t             | Тип значения                        |\n"
    "|                |                                     |\n"
    "| -p             | Свойство                            |\n"
    "|                |                                     |\n"
    "| -i             | Индекс                              |\n"
    "|------------------------------------------------------|\n"
    "\n"
    "Есть ЧЕТЫРЕ сценария работы программы, для них определены\n"
    "необходимые ключи. Задержка играет роль, только в сценарии\n"
    "сбора данных по всем устройствам. В других случаях, эта\n"
    "задержка определит только продолжительность запроса данных\n"
    "в случае их долгого ответа.\n"
    "|------------------------------------------------------|\n"
    "|         СЦЕНАРИЙ         |     НЕОБХОДИМЫЕ КЛЮЧИ     |\n"
    "|------------------------------------------------------|\n"
    "| Сбор данных по одному    | -dcollector -id           |\n"
    "| устройству               |                           |\n"
    "|                          |                           |\n"
    "| Сбор данных по одному    | -dcollector -id -timeout  |\n"
    "| устройству c задержкой   |                           |\n"
    "|                          |                           |\n"
    "| Сбор данных по всем      | -dcollector               |\n"
    "| устройствам              |                           |\n"
    "|                          |                           |\n"
    "| Сбор данных по всем      | -dcollector -timeout      |\n"
    "| устройствам с задержкой  |                           |\n"
    "|                          |                           |\n"
    "| Сбор данных по одному    | -dcollector -p            |\n"
    "| свойству со всех         |                           |\n"
    "| устройств                |                           |\n"
    "|                          |                           |\n"
    "| Сбор данных по одному    | -dcollector -p -timeout   |\n"
    "| свойству со всех         |                           |\n"
    "| устройств с задержкой    |                           |\n"
    "|                          |                           |\n"
    "| Сбор данных по параметру | -id  -t  -p  -i           |\n"
    "|                          |                           |\n"
    "| Сбор данных по параметру | -id  -t  -p  -i -timeout  |\n"
    "| с задержкой              |                           | \n"
    "|------------------------------------------------------|\n"
    "|                ПРИМЕРЫ ИСПОЛЬЗОВАНИЯ                 |\n"
    "|------------------------------------------------------|\n"
    "| -dcollector                                          |\n"
    "| -dcollector -timeout 3000                            |\n"
    "| -dcollector -id 260001                               |\n"
    "| -dcollector -timeout 100 -id 260001                  |\n"
    "| -dcollector -p 76                                    |\n"
    "| -dcollector -p 371 -timeout 10000                    |\n"
    "| -id 260001 -i -1 -t 8 -p 76                          |\n"
    "| -id 260001 -i -1 -t 8 -p 76 -timeout 300             |\n"
    "|------------------------------------------------------|";

}  // namespace collector
