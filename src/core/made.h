// What a factory returns: the thing it made, or, with nothing made, why not.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/failure.h"

template <class T>
struct [[nodiscard]] Made {
    std::unique_ptr<T> value;  // null exactly when `failure` says why
    Failure failure;

    [[nodiscard]] static Made Of(std::unique_ptr<T> made) { return {std::move(made), Failure::None()}; }
    [[nodiscard]] static Made Not(FailureKind kind, std::string text) {
        return {nullptr, Failure::Because(kind, std::move(text))};
    }
};
