namespace juce
{

String HelpTools::stringFromBytesWithUnit (double bytes, bool /*unused*/)
{
    static const char* const units[] = { "B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB", "BB" };
    constexpr auto numUnits = (int) (sizeof (units) / sizeof (units[0]));

    if (bytes < 1000.0)
        return (String::formatted ("%.0f ", bytes) + "B").trim();

    // Compared before the conversion to int, so that infinity and NaN end here too.
    const auto exponent = std::trunc (std::log10 (bytes) / 3.0);

    if (! (exponent < (double) numUnits))
        return "too large";

    const auto e = (int) exponent;
    const auto value = bytes / std::pow (1000.0, e);
    const char* const format = value > 100.0 ? "%.1f "
                             : value > 10.0  ? "%.2f "
                                             : "%.3f ";

    return (String::formatted (format, value) + units[e]).trim();
}

} // namespace juce
