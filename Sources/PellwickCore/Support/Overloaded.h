#pragma once

namespace Pellwick {

/// Builds one visitor from several lambdas, for exhaustive `std::visit` over a variant.
template<class... Ts>
struct Overloaded : Ts...
{
    using Ts::operator()...;
};

// C++20 deduces this aggregate's arguments without a guide; clang 14 does not yet.
template<class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace Pellwick
