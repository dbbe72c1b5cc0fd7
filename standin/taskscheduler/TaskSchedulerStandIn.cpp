#include "standin/taskscheduler/TaskSchedulerStandIn.h"

#include <memory>

namespace standin {

const CLSID kTaskSchedulerClsid = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const wchar_t kRootKey[] = L"Software\\Tarvel Tests\\Task Scheduler";

namespace {

// What the real service answers; not all of them are in the SDK's headers.
const HRESULT kServiceNotRunning = static_cast<HRESULT>(0x80041315);    // SCHED_E_SERVICE_NOT_RUNNING
const HRESULT kServiceNotConnected = static_cast<HRESULT>(0x80041324);  // SCHED_E_SERVICE_NOT_CONNECTED
const HRESULT kMissingNode = static_cast<HRESULT>(0x80041319);          // SCHED_E_MISSINGNODE
const HRESULT kTaskNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kTaskExists = HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

LONG live = 0;

std::wstring keyPath(const wchar_t* sub) { return std::wstring(kRootKey) + L"\\" + sub; }

HKEY openKey(const std::wstring& path, REGSAM access, bool create)
{
    HKEY key = nullptr;
    const REGSAM view = KEY_WOW64_32KEY;
    LONG status = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                           access | view, nullptr, &key, nullptr)
                         : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | view, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

bool readDword(HKEY key, const wchar_t* name, DWORD& value)
{
    DWORD size = sizeof value;
    DWORD type = 0;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS && type == REG_DWORD;
}

bool readString(HKEY key, const wchar_t* name, std::wstring& value)
{
    DWORD size = 0;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
    RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    value = buffer.data();
    return true;
}

void writeDword(HKEY key, const std::wstring& name, DWORD value)
{
    RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void writeString(HKEY key, const std::wstring& name, const std::wstring& value)
{
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// A fault set for this call, or S_OK.
HRESULT fault(const wchar_t* call)
{
    HKEY key = openKey(keyPath(L"Faults"), KEY_QUERY_VALUE, false);
    if (key == nullptr) {
        return S_OK;
    }
    DWORD status = S_OK;
    readDword(key, call, status);
    RegCloseKey(key);
    if (static_cast<HRESULT>(status) == kEndTheProcess) {
        // As a service that hangs and is killed: the caller gets no chance to go on.
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(kEndTheProcess));
    }
    return static_cast<HRESULT>(status);
}

bool stopped()
{
    HKEY key = openKey(kRootKey, KEY_QUERY_VALUE, false);
    DWORD value = 0;
    if (key != nullptr) {
        readDword(key, L"Stopped", value);
        RegCloseKey(key);
    }
    return value != 0;
}

// A leading backslash names the root folder, which is the only one there is.
std::wstring taskNameOf(const wchar_t* path)
{
    if (path == nullptr) {
        return std::wstring();
    }
    return path[0] == L'\\' ? path + 1 : path;
}

HRESULT copyOut(const std::wstring& value, BSTR* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = SysAllocString(value.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT putBool(bool& target, VARIANT_BOOL value)
{
    target = value != VARIANT_FALSE;
    return S_OK;
}

HRESULT getBool(bool value, VARIANT_BOOL* out)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

#define FAULT(call)                          \
    if (HRESULT injected = fault(L##call)) { \
        return injected;                     \
    }
#define NOT_USED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

// IDispatch plumbing shared by every object; none of them is scriptable.
template <class Interface>
class Object : public Interface {
public:
    Object() { InterlockedIncrement(&live); }
    virtual ~Object() { InterlockedDecrement(&live); }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Interface)) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

private:
    LONG references_ = 1;
};

// Hands a new object out through an interface pointer, the caller owning the one reference.
template <class Interface>
HRESULT handOut(Interface* object, Interface** out)
{
    if (out == nullptr) {
        object->Release();
        return E_POINTER;
    }
    *out = object;
    return S_OK;
}

using TaskPtr = std::shared_ptr<Task>;

class RegistrationInfo : public Object<IRegistrationInfo> {
public:
    explicit RegistrationInfo(TaskPtr task) : task_(std::move(task)) {}
    HRESULT STDMETHODCALLTYPE get_Description(BSTR* out) override { return copyOut(task_->description, out); }
    HRESULT STDMETHODCALLTYPE put_Description(BSTR value) override
    {
        FAULT("IRegistrationInfo::put_Description");
        task_->descriptionSet = true;
        task_->description = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Author(BSTR* out) override { return copyOut(task_->author, out); }
    HRESULT STDMETHODCALLTYPE put_Author(BSTR value) override
    {
        FAULT("IRegistrationInfo::put_Author");
        task_->authorSet = true;
        task_->author = value ? value : L"";
        return S_OK;
    }
    // IRegistrationInfo: not used by tarvel
    NOT_USED(get_Version, (BSTR*))
    NOT_USED(put_Version, (BSTR))
    NOT_USED(get_Date, (BSTR*))
    NOT_USED(put_Date, (BSTR))
    NOT_USED(get_Documentation, (BSTR*))
    NOT_USED(put_Documentation, (BSTR))
    NOT_USED(get_XmlText, (BSTR*))
    NOT_USED(put_XmlText, (BSTR))
    NOT_USED(get_URI, (BSTR*))
    NOT_USED(put_URI, (BSTR))
    NOT_USED(get_SecurityDescriptor, (VARIANT*))
    NOT_USED(put_SecurityDescriptor, (VARIANT))
    NOT_USED(get_Source, (BSTR*))
    NOT_USED(put_Source, (BSTR))
private:
    TaskPtr task_;
};

class TriggerObject : public Object<ITrigger> {
public:
    TriggerObject(TaskPtr task, size_t index) : task_(std::move(task)), index_(index) {}
    HRESULT STDMETHODCALLTYPE get_Type(TASK_TRIGGER_TYPE2* out) override
    {
        FAULT("ITrigger::get_Type");
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = task_->triggers[index_].type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override
    {
        FAULT("ITrigger::get_Enabled");
        return getBool(task_->triggers[index_].enabled, out);
    }
    HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL value) override
    {
        return putBool(task_->triggers[index_].enabled, value);
    }
    // ITrigger: not used by tarvel
    NOT_USED(get_Id, (BSTR*))
    NOT_USED(put_Id, (BSTR))
    NOT_USED(get_Repetition, (IRepetitionPattern**))
    NOT_USED(put_Repetition, (IRepetitionPattern*))
    NOT_USED(get_ExecutionTimeLimit, (BSTR*))
    NOT_USED(put_ExecutionTimeLimit, (BSTR))
    NOT_USED(get_StartBoundary, (BSTR*))
    NOT_USED(put_StartBoundary, (BSTR))
    NOT_USED(get_EndBoundary, (BSTR*))
    NOT_USED(put_EndBoundary, (BSTR))
private:
    TaskPtr task_;
    size_t index_;
};

class TriggerCollection : public Object<ITriggerCollection> {
public:
    explicit TriggerCollection(TaskPtr task) : task_(std::move(task)) {}
    HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = static_cast<LONG>(task_->triggers.size());
        return S_OK;
    }
    // Counts from 1, as the real collection does.
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, ITrigger** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITriggerCollection::get_Item");
        if (index < 1 || static_cast<size_t>(index) > task_->triggers.size()) {
            return E_INVALIDARG;
        }
        return handOut<ITrigger>(new TriggerObject(task_, index - 1), out);
    }
    HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type, ITrigger** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITriggerCollection::Create");
        Trigger trigger;
        trigger.type = type;
        task_->triggers.push_back(trigger);
        return handOut<ITrigger>(new TriggerObject(task_, task_->triggers.size() - 1), out);
    }
    // ITriggerCollection: not used by tarvel
    NOT_USED(get__NewEnum, (IUnknown**))
    NOT_USED(Remove, (VARIANT))
    NOT_USED(Clear, ())
private:
    TaskPtr task_;
};

class Principal : public Object<IPrincipal> {
public:
    explicit Principal(TaskPtr task) : task_(std::move(task)) {}
    HRESULT STDMETHODCALLTYPE get_Id(BSTR* out) override { return copyOut(task_->principalId, out); }
    HRESULT STDMETHODCALLTYPE put_Id(BSTR value) override
    {
        FAULT("IPrincipal::put_Id");
        task_->principalId = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_LogonType(TASK_LOGON_TYPE value) override
    {
        FAULT("IPrincipal::put_LogonType");
        task_->principalLogonType = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_RunLevel(TASK_RUNLEVEL_TYPE value) override
    {
        FAULT("IPrincipal::put_RunLevel");
        task_->runLevel = value;
        return S_OK;
    }
    // IPrincipal: not used by tarvel
    NOT_USED(get_DisplayName, (BSTR*))
    NOT_USED(put_DisplayName, (BSTR))
    NOT_USED(get_UserId, (BSTR*))
    NOT_USED(put_UserId, (BSTR))
    NOT_USED(get_LogonType, (TASK_LOGON_TYPE*))
    NOT_USED(get_GroupId, (BSTR*))
    NOT_USED(put_GroupId, (BSTR))
    NOT_USED(get_RunLevel, (TASK_RUNLEVEL_TYPE*))
private:
    TaskPtr task_;
};

class IdleSettings : public Object<IIdleSettings> {
public:
    explicit IdleSettings(TaskPtr task) : task_(std::move(task)) {}
    HRESULT STDMETHODCALLTYPE put_StopOnIdleEnd(VARIANT_BOOL value) override
    {
        FAULT("IIdleSettings::put_StopOnIdleEnd");
        return putBool(task_->stopOnIdleEnd, value);
    }
    // IIdleSettings: not used by tarvel
    NOT_USED(get_IdleDuration, (BSTR*))
    NOT_USED(put_IdleDuration, (BSTR))
    NOT_USED(get_WaitTimeout, (BSTR*))
    NOT_USED(put_WaitTimeout, (BSTR))
    NOT_USED(get_StopOnIdleEnd, (VARIANT_BOOL*))
    NOT_USED(get_RestartOnIdle, (VARIANT_BOOL*))
    NOT_USED(put_RestartOnIdle, (VARIANT_BOOL))
private:
    TaskPtr task_;
};

class Settings : public Object<ITaskSettings> {
public:
    explicit Settings(TaskPtr task) : task_(std::move(task)) {}
    HRESULT STDMETHODCALLTYPE put_AllowHardTerminate(VARIANT_BOOL value) override
    {
        FAULT("ITaskSettings::put_AllowHardTerminate");
        return putBool(task_->allowHardTerminate, value);
    }
    HRESULT STDMETHODCALLTYPE put_DisallowStartIfOnBatteries(VARIANT_BOOL value) override
    {
        FAULT("ITaskSettings::put_DisallowStartIfOnBatteries");
        return putBool(task_->disallowStartIfOnBatteries, value);
    }
    HRESULT STDMETHODCALLTYPE put_StopIfGoingOnBatteries(VARIANT_BOOL value) override
    {
        FAULT("ITaskSettings::put_StopIfGoingOnBatteries");
        return putBool(task_->stopIfGoingOnBatteries, value);
    }
    HRESULT STDMETHODCALLTYPE put_ExecutionTimeLimit(BSTR value) override
    {
        FAULT("ITaskSettings::put_ExecutionTimeLimit");
        task_->executionTimeLimit = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_MultipleInstances(TASK_INSTANCES_POLICY value) override
    {
        FAULT("ITaskSettings::put_MultipleInstances");
        task_->multipleInstances = value;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IdleSettings(IIdleSettings** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskSettings::get_IdleSettings");
        return handOut<IIdleSettings>(new IdleSettings(task_), out);
    }
    // ITaskSettings: not used by tarvel
    NOT_USED(get_AllowDemandStart, (VARIANT_BOOL*))
    NOT_USED(put_AllowDemandStart, (VARIANT_BOOL))
    NOT_USED(get_RestartInterval, (BSTR*))
    NOT_USED(put_RestartInterval, (BSTR))
    NOT_USED(get_RestartCount, (INT*))
    NOT_USED(put_RestartCount, (INT))
    NOT_USED(get_MultipleInstances, (TASK_INSTANCES_POLICY*))
    NOT_USED(get_StopIfGoingOnBatteries, (VARIANT_BOOL*))
    NOT_USED(get_DisallowStartIfOnBatteries, (VARIANT_BOOL*))
    NOT_USED(get_AllowHardTerminate, (VARIANT_BOOL*))
    NOT_USED(get_StartWhenAvailable, (VARIANT_BOOL*))
    NOT_USED(put_StartWhenAvailable, (VARIANT_BOOL))
    NOT_USED(get_XmlText, (BSTR*))
    NOT_USED(put_XmlText, (BSTR))
    NOT_USED(get_RunOnlyIfNetworkAvailable, (VARIANT_BOOL*))
    NOT_USED(put_RunOnlyIfNetworkAvailable, (VARIANT_BOOL))
    NOT_USED(get_ExecutionTimeLimit, (BSTR*))
    NOT_USED(get_Enabled, (VARIANT_BOOL*))
    NOT_USED(put_Enabled, (VARIANT_BOOL))
    NOT_USED(get_DeleteExpiredTaskAfter, (BSTR*))
    NOT_USED(put_DeleteExpiredTaskAfter, (BSTR))
    NOT_USED(get_Priority, (INT*))
    NOT_USED(put_Priority, (INT))
    NOT_USED(get_Compatibility, (TASK_COMPATIBILITY*))
    NOT_USED(put_Compatibility, (TASK_COMPATIBILITY))
    NOT_USED(get_Hidden, (VARIANT_BOOL*))
    NOT_USED(put_Hidden, (VARIANT_BOOL))
    NOT_USED(put_IdleSettings, (IIdleSettings*))
    NOT_USED(get_RunOnlyIfIdle, (VARIANT_BOOL*))
    NOT_USED(put_RunOnlyIfIdle, (VARIANT_BOOL))
    NOT_USED(get_WakeToRun, (VARIANT_BOOL*))
    NOT_USED(put_WakeToRun, (VARIANT_BOOL))
    NOT_USED(get_NetworkSettings, (INetworkSettings**))
    NOT_USED(put_NetworkSettings, (INetworkSettings*))
private:
    TaskPtr task_;
};

class ExecAction : public Object<IExecAction> {
public:
    ExecAction(TaskPtr task, size_t index) : task_(std::move(task)), index_(index) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == __uuidof(IExecAction)) {
            if (out != nullptr) {
                *out = nullptr;
            }
            FAULT("IAction::QueryInterface(IExecAction)");
        }
        if (iid == __uuidof(IAction) && out != nullptr) {
            *out = static_cast<IAction*>(this);
            AddRef();
            return S_OK;
        }
        return Object<IExecAction>::QueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = TASK_ACTION_EXEC;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Path(BSTR value) override
    {
        FAULT("IExecAction::put_Path");
        task_->actions[index_].path = value ? value : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Arguments(BSTR value) override
    {
        FAULT("IExecAction::put_Arguments");
        task_->actions[index_].argumentsSet = true;
        task_->actions[index_].arguments = value ? value : L"";
        return S_OK;
    }
    // IAction: not used by tarvel
    NOT_USED(get_Id, (BSTR*))
    NOT_USED(put_Id, (BSTR))
    // IExecAction: not used by tarvel
    NOT_USED(get_Path, (BSTR*))
    NOT_USED(get_Arguments, (BSTR*))
    NOT_USED(get_WorkingDirectory, (BSTR*))
    NOT_USED(put_WorkingDirectory, (BSTR))
private:
    TaskPtr task_;
    size_t index_;
};

class ActionCollection : public Object<IActionCollection> {
public:
    explicit ActionCollection(TaskPtr task) : task_(std::move(task)) {}
    HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE type, IAction** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("IActionCollection::Create");
        if (type != TASK_ACTION_EXEC) {
            return E_NOTIMPL;
        }
        task_->actions.push_back(Action());
        IExecAction* action = new ExecAction(task_, task_->actions.size() - 1);
        return handOut<IAction>(action, out);
    }
    // IActionCollection: not used by tarvel
    NOT_USED(get_Count, (LONG*))
    NOT_USED(get_Item, (LONG, IAction**))
    NOT_USED(get__NewEnum, (IUnknown**))
    NOT_USED(get_XmlText, (BSTR*))
    NOT_USED(put_XmlText, (BSTR))
    NOT_USED(Remove, (VARIANT))
    NOT_USED(Clear, ())
    NOT_USED(get_Context, (BSTR*))
    NOT_USED(put_Context, (BSTR))
private:
    TaskPtr task_;
};

class Definition : public Object<ITaskDefinition> {
public:
    explicit Definition(TaskPtr task) : task_(std::move(task)) {}
    const Task& task() const { return *task_; }

    HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo** out) override
    {
        return give<IRegistrationInfo, RegistrationInfo>(L"ITaskDefinition::get_RegistrationInfo", out);
    }
    HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection** out) override
    {
        return give<ITriggerCollection, TriggerCollection>(L"ITaskDefinition::get_Triggers", out);
    }
    HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** out) override
    {
        return give<ITaskSettings, Settings>(L"ITaskDefinition::get_Settings", out);
    }
    HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** out) override
    {
        return give<IPrincipal, Principal>(L"ITaskDefinition::get_Principal", out);
    }
    HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** out) override
    {
        return give<IActionCollection, ActionCollection>(L"ITaskDefinition::get_Actions", out);
    }
    // ITaskDefinition: not used by tarvel
    NOT_USED(put_RegistrationInfo, (IRegistrationInfo*))
    NOT_USED(put_Triggers, (ITriggerCollection*))
    NOT_USED(put_Settings, (ITaskSettings*))
    NOT_USED(get_Data, (BSTR*))
    NOT_USED(put_Data, (BSTR))
    NOT_USED(put_Principal, (IPrincipal*))
    NOT_USED(put_Actions, (IActionCollection*))
    NOT_USED(get_XmlText, (BSTR*))
    NOT_USED(put_XmlText, (BSTR))
private:
    template <class Interface, class Implementation>
    HRESULT give(const wchar_t* call, Interface** out)
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        if (HRESULT injected = fault(call)) {
            return injected;
        }
        return handOut<Interface>(new Implementation(task_), out);
    }

    TaskPtr task_;
};

class RegisteredTask : public Object<IRegisteredTask> {
public:
    RegisteredTask(std::wstring name, const Task& task) : name_(std::move(name)), task_(task) {}
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override { return copyOut(name_, out); }
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return copyOut(L"\\" + name_, out); }
    HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL* out) override
    {
        FAULT("IRegisteredTask::get_Enabled");
        return getBool(task_.enabled, out);
    }
    HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("IRegisteredTask::get_Definition");
        return handOut<ITaskDefinition>(new Definition(std::make_shared<Task>(task_)), out);
    }
    // IRegisteredTask: not used by tarvel
    NOT_USED(get_State, (TASK_STATE*))
    NOT_USED(put_Enabled, (VARIANT_BOOL))
    NOT_USED(Run, (VARIANT, IRunningTask**))
    NOT_USED(RunEx, (VARIANT, LONG, LONG, BSTR, IRunningTask**))
    NOT_USED(GetInstances, (LONG, IRunningTaskCollection**))
    NOT_USED(get_LastRunTime, (DATE*))
    NOT_USED(get_LastTaskResult, (LONG*))
    NOT_USED(get_NumberOfMissedRuns, (LONG*))
    NOT_USED(get_NextRunTime, (DATE*))
    NOT_USED(get_Xml, (BSTR*))
    NOT_USED(GetSecurityDescriptor, (LONG, BSTR*))
    NOT_USED(SetSecurityDescriptor, (BSTR, LONG))
    NOT_USED(Stop, (LONG))
    NOT_USED(GetRunTimes, (const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*, LPSYSTEMTIME*))
private:
    std::wstring name_;
    Task task_;
};

class Folder : public Object<ITaskFolder> {
public:
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return copyOut(L"\\", out); }
    HRESULT STDMETHODCALLTYPE GetTask(BSTR path, IRegisteredTask** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskFolder::GetTask");
        Task task;
        const std::wstring name = taskNameOf(path);
        if (!loadTask(name, task)) {
            return kTaskNotFound;
        }
        return handOut<IRegisteredTask>(new RegisteredTask(name, task), out);
    }
    HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG) override
    {
        FAULT("ITaskFolder::DeleteTask");
        HKEY tasks = openKey(keyPath(L"Tasks"), KEY_ALL_ACCESS, false);
        if (tasks == nullptr) {
            return kTaskNotFound;
        }
        const LONG status = RegDeleteTreeW(tasks, taskNameOf(name).c_str());
        RegDeleteKeyExW(tasks, taskNameOf(name).c_str(), KEY_WOW64_32KEY, 0);
        RegCloseKey(tasks);
        return status == ERROR_SUCCESS ? S_OK : kTaskNotFound;
    }
    HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR path, ITaskDefinition* definition, LONG flags,
                                                     VARIANT user, VARIANT password, TASK_LOGON_TYPE logonType,
                                                     VARIANT sddl, IRegisteredTask** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskFolder::RegisterTaskDefinition");
        auto* ours = dynamic_cast<Definition*>(definition);
        if (ours == nullptr) {
            return E_INVALIDARG;
        }
        const std::wstring name = taskNameOf(path);
        Task existing;
        if (name.empty()) {
            return E_INVALIDARG;
        }
        if ((flags & TASK_CREATE) && !(flags & TASK_UPDATE) && loadTask(name, existing)) {
            return kTaskExists;
        }
        if (ours->task().actions.empty()) {
            return kMissingNode;
        }
        Task task = ours->task();
        task.registrationFlags = flags;
        task.userIdType = V_VT(&user);
        if (V_VT(&user) == VT_BSTR && V_BSTR(&user) != nullptr) {
            task.userId = V_BSTR(&user);
        }
        task.passwordType = V_VT(&password);
        task.registrationLogonType = logonType;
        task.sddlType = V_VT(&sddl);
        if (V_VT(&sddl) == VT_BSTR && V_BSTR(&sddl) != nullptr) {
            task.sddl = V_BSTR(&sddl);
        }
        storeTask(name, task);
        if (out == nullptr) {
            return S_OK;
        }
        return handOut<IRegisteredTask>(new RegisteredTask(name, task), out);
    }
    // ITaskFolder: not used by tarvel
    NOT_USED(get_Name, (BSTR*))
    NOT_USED(GetFolder, (BSTR, ITaskFolder**))
    NOT_USED(GetFolders, (LONG, ITaskFolderCollection**))
    NOT_USED(CreateFolder, (BSTR, VARIANT, ITaskFolder**))
    NOT_USED(DeleteFolder, (BSTR, LONG))
    NOT_USED(GetTasks, (LONG, IRegisteredTaskCollection**))
    NOT_USED(RegisterTask, (BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask**))
    NOT_USED(GetSecurityDescriptor, (LONG, BSTR*))
    NOT_USED(SetSecurityDescriptor, (BSTR, LONG))
};

class Service : public Object<ITaskService> {
public:
    HRESULT STDMETHODCALLTYPE Connect(VARIANT, VARIANT, VARIANT, VARIANT) override
    {
        FAULT("ITaskService::Connect");
        if (stopped()) {
            return kServiceNotRunning;
        }
        connected_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFolder(BSTR path, ITaskFolder** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskService::GetFolder");
        if (!connected_) {
            return kServiceNotConnected;
        }
        if (path == nullptr || std::wstring(path) != L"\\") {
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        }
        return handOut<ITaskFolder>(new Folder(), out);
    }
    HRESULT STDMETHODCALLTYPE NewTask(DWORD, ITaskDefinition** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("ITaskService::NewTask");
        if (!connected_) {
            return kServiceNotConnected;
        }
        return handOut<ITaskDefinition>(new Definition(std::make_shared<Task>()), out);
    }
    // ITaskService: not used by tarvel
    NOT_USED(GetRunningTasks, (LONG, IRunningTaskCollection**))
    NOT_USED(get_Connected, (VARIANT_BOOL*))
    NOT_USED(get_TargetServer, (BSTR*))
    NOT_USED(get_ConnectedUser, (BSTR*))
    NOT_USED(get_ConnectedDomain, (BSTR*))
    NOT_USED(get_HighestVersion, (DWORD*))
private:
    bool connected_ = false;
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (out != nullptr) {
            *out = nullptr;
        }
        FAULT("IClassFactory::CreateInstance");
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return createTaskService(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

HRESULT createTaskService(REFIID iid, void** object)
{
    Service* service = new Service();
    const HRESULT hr = service->QueryInterface(iid, object);
    service->Release();
    return hr;
}

IClassFactory* classFactory() { return &factory; }

LONG liveObjects() { return live; }

bool loadTask(const std::wstring& name, Task& task)
{
    HKEY key = openKey(keyPath(L"Tasks") + L"\\" + name, KEY_QUERY_VALUE, false);
    if (key == nullptr || name.empty()) {
        if (key != nullptr) {
            RegCloseKey(key);
        }
        return false;
    }
    task = Task();
    DWORD value = 0;
    auto flag = [&](const wchar_t* valueName, bool& target) {
        if (readDword(key, valueName, value)) {
            target = value != 0;
        }
    };
    flag(L"Enabled", task.enabled);
    task.authorSet = readString(key, L"Author", task.author);
    task.descriptionSet = readString(key, L"Description", task.description);
    DWORD count = 0;
    readDword(key, L"TriggerCount", count);
    for (DWORD i = 1; i <= count; ++i) {
        Trigger trigger;
        const std::wstring prefix = L"Trigger" + std::to_wstring(i);
        if (readDword(key, (prefix + L"Type").c_str(), value)) {
            trigger.type = static_cast<TASK_TRIGGER_TYPE2>(value);
        }
        flag((prefix + L"Enabled").c_str(), trigger.enabled);
        task.triggers.push_back(trigger);
    }
    readString(key, L"PrincipalId", task.principalId);
    if (readDword(key, L"PrincipalLogonType", value)) {
        task.principalLogonType = static_cast<TASK_LOGON_TYPE>(value);
    }
    if (readDword(key, L"RunLevel", value)) {
        task.runLevel = static_cast<TASK_RUNLEVEL_TYPE>(value);
    }
    flag(L"AllowHardTerminate", task.allowHardTerminate);
    flag(L"DisallowStartIfOnBatteries", task.disallowStartIfOnBatteries);
    flag(L"StopIfGoingOnBatteries", task.stopIfGoingOnBatteries);
    readString(key, L"ExecutionTimeLimit", task.executionTimeLimit);
    if (readDword(key, L"MultipleInstances", value)) {
        task.multipleInstances = static_cast<TASK_INSTANCES_POLICY>(value);
    }
    flag(L"StopOnIdleEnd", task.stopOnIdleEnd);
    count = 0;
    readDword(key, L"ActionCount", count);
    for (DWORD i = 1; i <= count; ++i) {
        Action action;
        const std::wstring prefix = L"Action" + std::to_wstring(i);
        readString(key, (prefix + L"Path").c_str(), action.path);
        action.argumentsSet = readString(key, (prefix + L"Arguments").c_str(), action.arguments);
        task.actions.push_back(action);
    }
    if (readDword(key, L"RegistrationFlags", value)) {
        task.registrationFlags = static_cast<LONG>(value);
    }
    if (readDword(key, L"UserIdType", value)) {
        task.userIdType = static_cast<VARTYPE>(value);
    }
    readString(key, L"UserId", task.userId);
    if (readDword(key, L"PasswordType", value)) {
        task.passwordType = static_cast<VARTYPE>(value);
    }
    if (readDword(key, L"LogonType", value)) {
        task.registrationLogonType = static_cast<TASK_LOGON_TYPE>(value);
    }
    if (readDword(key, L"SddlType", value)) {
        task.sddlType = static_cast<VARTYPE>(value);
    }
    readString(key, L"Sddl", task.sddl);
    RegCloseKey(key);
    return true;
}

void storeTask(const std::wstring& name, const Task& task)
{
    const std::wstring path = keyPath(L"Tasks") + L"\\" + name;
    HKEY old = openKey(path, KEY_ALL_ACCESS, false);
    if (old != nullptr) {
        RegDeleteTreeW(old, nullptr);
        RegCloseKey(old);
    }
    HKEY key = openKey(path, KEY_ALL_ACCESS, true);
    if (key == nullptr) {
        return;
    }
    writeDword(key, L"Enabled", task.enabled);
    if (task.authorSet) {
        writeString(key, L"Author", task.author);
    }
    if (task.descriptionSet) {
        writeString(key, L"Description", task.description);
    }
    writeDword(key, L"TriggerCount", static_cast<DWORD>(task.triggers.size()));
    for (size_t i = 0; i < task.triggers.size(); ++i) {
        const std::wstring prefix = L"Trigger" + std::to_wstring(i + 1);
        writeDword(key, prefix + L"Type", task.triggers[i].type);
        writeDword(key, prefix + L"Enabled", task.triggers[i].enabled);
    }
    writeString(key, L"PrincipalId", task.principalId);
    writeDword(key, L"PrincipalLogonType", task.principalLogonType);
    writeDword(key, L"RunLevel", task.runLevel);
    writeDword(key, L"AllowHardTerminate", task.allowHardTerminate);
    writeDword(key, L"DisallowStartIfOnBatteries", task.disallowStartIfOnBatteries);
    writeDword(key, L"StopIfGoingOnBatteries", task.stopIfGoingOnBatteries);
    writeString(key, L"ExecutionTimeLimit", task.executionTimeLimit);
    writeDword(key, L"MultipleInstances", task.multipleInstances);
    writeDword(key, L"StopOnIdleEnd", task.stopOnIdleEnd);
    writeDword(key, L"ActionCount", static_cast<DWORD>(task.actions.size()));
    for (size_t i = 0; i < task.actions.size(); ++i) {
        const std::wstring prefix = L"Action" + std::to_wstring(i + 1);
        writeString(key, prefix + L"Path", task.actions[i].path);
        if (task.actions[i].argumentsSet) {
            writeString(key, prefix + L"Arguments", task.actions[i].arguments);
        }
    }
    writeDword(key, L"RegistrationFlags", static_cast<DWORD>(task.registrationFlags));
    writeDword(key, L"UserIdType", task.userIdType);
    writeString(key, L"UserId", task.userId);
    writeDword(key, L"PasswordType", task.passwordType);
    writeDword(key, L"LogonType", task.registrationLogonType);
    writeDword(key, L"SddlType", task.sddlType);
    writeString(key, L"Sddl", task.sddl);
    RegCloseKey(key);
}

std::vector<std::wstring> taskNames()
{
    std::vector<std::wstring> names;
    HKEY tasks = openKey(keyPath(L"Tasks"), KEY_READ, false);
    if (tasks == nullptr) {
        return names;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = 256;
        if (RegEnumKeyExW(tasks, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    RegCloseKey(tasks);
    return names;
}

void deleteAllTasks()
{
    HKEY tasks = openKey(keyPath(L"Tasks"), KEY_ALL_ACCESS, true);
    if (tasks != nullptr) {
        RegDeleteTreeW(tasks, nullptr);
        RegCloseKey(tasks);
    }
}

void failCall(const std::wstring& call, HRESULT status)
{
    HKEY key = openKey(keyPath(L"Faults"), KEY_SET_VALUE, true);
    if (key != nullptr) {
        writeDword(key, call, static_cast<DWORD>(status));
        RegCloseKey(key);
    }
}

void clearFaults()
{
    HKEY key = openKey(keyPath(L"Faults"), KEY_ALL_ACCESS, true);
    if (key != nullptr) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
}

void setStopped(bool isStopped)
{
    HKEY key = openKey(kRootKey, KEY_SET_VALUE, true);
    if (key != nullptr) {
        writeDword(key, L"Stopped", isStopped);
        RegCloseKey(key);
    }
}

}  // namespace standin
