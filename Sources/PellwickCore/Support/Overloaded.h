#pragma once

namespace Pellwick {

/// Builds one visitor from several lambdas, for exhaustive `std::visit` over a variant.
template<class... Ts>
struct Overloaded : Ts...
{
    using Ts::operator()...;
};

template<class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace Pellwick
