namespace juce
{

ProgressLabel::ProgressLabel()
{
    setColour (Label::backgroundColourId, Colour (0xff333333));
    setColour (Label::textColourId, Colour (0xff3af3fa));
    setColour (TextEditor::highlightColourId, Colour (0xffff0000));

    setLookAndFeel (&lookAndFeel);
}

ProgressLabel::~ProgressLabel()
{
    setLookAndFeel (nullptr);
}

void ProgressLabel::resized()
{
    // Deliberately empty: the label is never edited, so no inline editor needs fitting.
}

//==============================================================================
void ProgressLabel::CustomLookAndFeel::drawLabel (Graphics& g, Label& label)
{
    auto value = (float) label.getText().getDoubleValue();

    // The text parser accepts "nan"; it must not reach the integer conversion below.
    if (std::isnan (value))
        value = 0.0f;

    auto percent = jmin (value, 100.0f);

    if (percent < 0.0f)
        percent = 100.0f;

    const auto w = label.getWidth();
    const auto h = label.getHeight();
    const auto fillWidth = (int) (percent * (float) w / 100.0f);
    const auto radius = (float) (h / 2);

    g.fillAll (Colour (0x00000000));

    g.setColour (label.findColour (Label::backgroundColourId));
    g.fillRoundedRectangle (0.0f, 0.0f, (float) w, (float) h, radius);

    const int barColourId = value > 0.0f ? (int) Label::textColourId : (int) TextEditor::highlightColourId;
    g.setColour (label.findColour (barColourId));
    g.fillRoundedRectangle (0.0f, 0.0f, (float) fillWidth, (float) h, radius);
}

} // namespace juce
