// Save and revert of a form field's value: a settings form saves every field when it
// shows the stored settings and reverts them when the user discards the changes.
#pragma once

class VelaRevertable
{
public:
    virtual ~VelaRevertable() = default;

    // Remembers the current value.
    virtual void SaveValue() = 0;
    // Returns to the remembered value.
    virtual void Revert() = 0;
    // Forgets the remembered value and empties the field.
    virtual void Reset() = 0;
    // Whether the current value differs from the remembered one.
    virtual bool IsChanged() const = 0;
};
