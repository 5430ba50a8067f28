#pragma once
// CDialog: a property-based front end to the common dialogs. Set the properties a dialog
// needs, call its Show method, read the results back when it returned True.

#include <QString>
#include <cstdint>
#include <optional>

#include "scan39/dialogs/comdlg.h"
#include "scan39/dialogs/kernel.h"
#include "scan39/host/boolean.h"

namespace scan39::dialogs {

using host::Boolean;

class CDialog {
  public:
    // The dialog and kernel layers default to the real ones (Qt, system memory). Tests pass
    // scripted fakes. Neither layer is owned.
    explicit CDialog(CommonDialogLayer* dialogs = nullptr, KernelLayer* kernel = nullptr);

    // Members in interface order: each property's getter, then its setter.
    Boolean ShowOpen();
    QString Filter() const;
    void Filter(const QString& New_Filter);
    std::int32_t Flags() const { return m_Flags; }
    void Flags(std::int32_t New_Flags) { m_Flags = New_Flags; }
    QString DialogTitle() const { return m_DialogTitle.value_or(QString()); }
    void DialogTitle(const QString& New_DialogTitle) { m_DialogTitle = New_DialogTitle; }
    QString InitDir() const { return m_InitDir.value_or(QString()); }
    void InitDir(const QString& New_InitDir) { m_InitDir = New_InitDir; }
    QString FileTitle() const { return m_FileTitle.value_or(QString()); }
    void FileTitle(const QString& New_FileTitle) { m_FileTitle = New_FileTitle; }
    QString FileName() const { return m_FileName.value_or(QString()); }
    void FileName(const QString& New_FileName) { m_FileName = New_FileName; }
    std::int32_t Hwnd() const { return m_Hwnd; }
    void Hwnd(std::int32_t New_Hwnd) { m_Hwnd = New_Hwnd; }
    std::int32_t Instance() const { return m_Instance; }
    void Instance(std::int32_t New_Instance) { m_Instance = New_Instance; }
    Boolean ShowSave();
    Boolean ShowPrint();
    std::int32_t Copies() const { return m_Copies; }
    void Copies(std::int32_t New_Copies) { m_Copies = New_Copies; }
    std::int32_t FromPage() const { return m_FromPage; }
    void FromPage(std::int32_t New_FromPage) { m_FromPage = New_FromPage; }
    std::int32_t ToPage() const { return m_ToPage; }
    void ToPage(std::int32_t New_ToPage) { m_ToPage = New_ToPage; }
    std::int32_t MaxPage() const { return m_MaxPage; }
    void MaxPage(std::int32_t New_MaxPage) { m_MaxPage = New_MaxPage; }
    std::int32_t MinPage() const { return m_MinPage; }
    void MinPage(std::int32_t New_MinPage) { m_MinPage = New_MinPage; }
    Boolean ShowColor();
    std::int32_t Color() const { return m_Color; }
    void Color(std::int32_t New_Color) { m_Color = New_Color; }
    Boolean ShowFont();
    QString FontName() const { return m_FontName.value_or(QString()); }
    void FontName(const QString& New_FontName) { m_FontName = New_FontName; }
    std::int32_t FontColor() const { return m_FontColor; }
    void FontColor(std::int32_t New_FontColor) { m_FontColor = New_FontColor; }
    std::int32_t FontSize() const { return m_FontSize; }
    void FontSize(std::int32_t New_FontSize) { m_FontSize = New_FontSize; }
    std::int32_t CharSet() const { return m_CharSet; }
    void CharSet(std::int32_t New_CharSet) { m_CharSet = New_CharSet; }
    Boolean Italic() const { return m_Italic; }
    void Italic(Boolean New_Italic) { m_Italic = New_Italic; }
    Boolean StrikeOut() const { return m_StrikeOut; }
    void StrikeOut(Boolean New_StrikeOut) { m_StrikeOut = New_StrikeOut; }
    Boolean Underline() const { return m_Underline; }
    void Underline(Boolean New_Underline) { m_Underline = New_Underline; }
    Boolean FontBlob() const { return m_FontBlob; }  // the bold flag
    void FontBlob(Boolean New_FontBlob) { m_FontBlob = New_FontBlob; }
    Boolean ShowFind();
    Boolean ShowReplace();
    Boolean ShowPageSetup();
    std::int32_t PaperWidth() const { return m_PaperWidth; }
    void PaperWidth(std::int32_t New_PaperWidth) { m_PaperWidth = New_PaperWidth; }
    std::int32_t PaperHeight() const { return m_PaperHeight; }
    void PaperHeight(std::int32_t New_PaperHeight) { m_PaperHeight = New_PaperHeight; }
    std::int32_t MarginLeft() const { return m_MarginLeft; }
    void MarginLeft(std::int32_t New_MarginLeft) { m_MarginLeft = New_MarginLeft; }
    std::int32_t MarginTop() const { return m_MarginTop; }
    void MarginTop(std::int32_t New_MarginTop) { m_MarginTop = New_MarginTop; }
    std::int32_t MarginRight() const { return m_MarginRight; }
    void MarginRight(std::int32_t New_MarginRight) { m_MarginRight = New_MarginRight; }
    std::int32_t MarginBottom() const { return m_MarginBottom; }
    void MarginBottom(std::int32_t New_MarginBottom) { m_MarginBottom = New_MarginBottom; }

  private:
    // The file dialogs share everything but the layer function they call.
    Boolean ShowFileDialog(bool (CommonDialogLayer::*show)(OPENFILENAME&));

    CommonDialogLayer* dialogs_;
    KernelLayer* kernel_;

    // The 28 property fields. A text never assigned is std::nullopt, so it reaches the
    // platform as a null pointer.
    std::int32_t m_Hwnd = 0;
    std::int32_t m_Instance = 0;
    std::optional<QString> m_Filter;
    std::int32_t m_Flags = 0;
    std::optional<QString> m_DialogTitle;
    std::optional<QString> m_InitDir;
    std::optional<QString> m_FileName;
    std::optional<QString> m_FileTitle;
    std::int32_t m_Copies = 0;
    std::int32_t m_FromPage = 0;
    std::int32_t m_ToPage = 0;
    std::int32_t m_MinPage = 0;
    std::int32_t m_MaxPage = 0;
    std::int32_t m_Color = 0;
    std::optional<QString> m_FontName;
    std::int32_t m_FontColor = 0;
    std::int32_t m_FontSize = 0;
    std::int32_t m_CharSet = 0;
    Boolean m_Italic = host::kFalse;
    Boolean m_StrikeOut = host::kFalse;
    Boolean m_Underline = host::kFalse;
    Boolean m_FontBlob = host::kFalse;
    std::int32_t m_PaperWidth = 0;
    std::int32_t m_PaperHeight = 0;
    std::int32_t m_MarginLeft = 0;
    std::int32_t m_MarginTop = 0;
    std::int32_t m_MarginRight = 0;
    std::int32_t m_MarginBottom = 0;
};

}  // namespace scan39::dialogs
