// A task definition's parts as the service hands them out: registration info, triggers,
// principal, settings and actions, each editing the one Task behind the definition.
#include "standin/taskscheduler/StandInObjects.h"

namespace standin {

namespace {

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
        return getValue(task_->triggers[index_].type, out);
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
    HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override { return countOut(task_->triggers.size(), out); }
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, ITrigger** out) override
    {
        return itemOut<ITrigger>(L"ITriggerCollection::get_Item", index, task_->triggers.size(), out,
                                 [this](size_t at) { return new TriggerObject(task_, at); });
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
    HRESULT STDMETHODCALLTYPE get_RunLevel(TASK_RUNLEVEL_TYPE* out) override
    {
        FAULT("IPrincipal::get_RunLevel");
        return getValue(task_->runLevel, out);
    }
    // A task registered for a group (TASK_LOGON_GROUP) runs for the account it was
    // registered with: its principal names that group.
    HRESULT STDMETHODCALLTYPE get_GroupId(BSTR* out) override
    {
        FAULT("IPrincipal::get_GroupId");
        return copyOut(task_->registrationLogonType == TASK_LOGON_GROUP ? task_->userId : std::wstring(), out);
    }
    // IPrincipal: not used by tarvel
    NOT_USED(get_DisplayName, (BSTR*))
    NOT_USED(put_DisplayName, (BSTR))
    NOT_USED(get_UserId, (BSTR*))
    NOT_USED(put_UserId, (BSTR))
    NOT_USED(get_LogonType, (TASK_LOGON_TYPE*))
    NOT_USED(put_GroupId, (BSTR))
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
    HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* out) override { return getValue(TASK_ACTION_EXEC, out); }
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
    HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override
    {
        FAULT("IExecAction::get_Path");
        return copyOut(task_->actions[index_].path, out);
    }
    // IExecAction: not used by tarvel

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
    HRESULT STDMETHODCALLTYPE get_Count(LONG* out) override { return countOut(task_->actions.size(), out); }
    // Only exec actions are ever stored.
    HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** out) override
    {
        return itemOut<IAction>(L"IActionCollection::get_Item", index, task_->actions.size(), out,
                                [this](size_t at) -> IAction* { return new ExecAction(task_, at); });
    }
    // IActionCollection: not used by tarvel
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

}  // namespace

ITaskDefinition* newDefinition(TaskPtr task) { return new Definition(std::move(task)); }

const Task* definedTask(ITaskDefinition* definition)
{
    auto* ours = dynamic_cast<Definition*>(definition);
    return ours == nullptr ? nullptr : &ours->task();
}

}  // namespace standin
